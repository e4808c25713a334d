#include "io/iodevicescanner.h"

#include <hidapi.h>
#include <QTimer>
#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

namespace Io {

namespace {

// Whether a wide character needs more than one QChar, or is half of a pair, which only Qt's decoder handles.
bool isOutsideBasicPlane(quint32 c) {
    return c > 0xffff || (c >= 0xd800 && c < 0xe000);
}

// One enumerated serial number, looked at without copying it: most interfaces join a record that already
// holds their serial number, so only the first interface of a device pays for a QString.
class WideSerial {
public:
    explicit WideSerial(const wchar_t* text) : m_text(text) {
        if (text == nullptr) {
            return;
        }
        m_length = std::wcslen(text);
        // Serial numbers are short and nearly always within the Basic Multilingual Plane, where each wide
        // character is one UTF-16 unit, as it always is where wchar_t has 16 bits. Anything else goes through
        // Qt's decoder once, and is compared and hashed in its decoded form.
        m_plain = sizeof(wchar_t) == sizeof(QChar) || std::none_of(text, text + m_length, [](wchar_t c) {
                      return isOutsideBasicPlane(quint32(c));
                  });
        if (!m_plain) {
            m_converted = QString::fromWCharArray(text, int(m_length));
        }
    }

    [[nodiscard]] QString toString() const {
        if (m_text == nullptr || !m_plain) {
            return m_converted;
        }
        QString out(int(m_length), Qt::Uninitialized);
        QChar* data = out.data();
        for (std::size_t i = 0; i < m_length; ++i) {
            data[i] = QChar(char16_t(m_text[i]));
        }
        return out;
    }

    [[nodiscard]] bool isNull() const { return m_text == nullptr; }

    // As QString compares: a missing serial number equals an empty one.
    [[nodiscard]] bool equals(const WideSerial& other) const {
        if (m_plain && other.m_plain) {
            return m_length == other.m_length && std::wmemcmp(m_text, other.m_text, m_length) == 0;
        }
        return toString() == other.toString();
    }

    [[nodiscard]] bool equals(const QString& other) const {
        if (!m_plain) {
            return other == m_converted;
        }
        if (std::size_t(other.size()) != m_length) {
            return false;
        }
        const QChar* data = other.constData();
        for (std::size_t i = 0; i < m_length; ++i) {
            if (data[i].unicode() != char16_t(m_text[i])) {
                return false;
            }
        }
        return true;
    }

    // Over the UTF-16 units, so that equal texts hash equally whichever way they were read.
    [[nodiscard]] quint64 hash(quint16 vendor_id, quint16 product_id) const {
        quint64 h = (quint64(vendor_id) << 16 | product_id) * 0x9e3779b97f4a7c15ULL;
        const auto mix = [&h](char16_t unit) { h = (h ^ unit) * 0x100000001b3ULL; };
        if (m_plain) {
            for (std::size_t i = 0; i < m_length; ++i) {
                mix(char16_t(m_text[i]));
            }
        } else {
            for (const QChar c : m_converted) {
                mix(c.unicode());
            }
        }
        return h ^ (h >> 29);
    }

private:
    const wchar_t* m_text;
    std::size_t m_length = 0;
    bool m_plain = true;
    QString m_converted;
};

// One physical device while the enumeration is still open: its interfaces point into the enumeration.
struct Draft {
    quint16 vendorId;
    quint16 productId;
    WideSerial serial;
    int firstPart;
    int lastPart;
    int parts;
    int nextSame;  // the next draft with the same vendor, product and serial number, in list order
};

struct Part {
    DeviceId id;
    const char* path;
    int next;
};

bool hasInterface(const Draft& draft, const std::vector<Part>& parts, const DeviceId& id) {
    for (int at = draft.firstPart; at >= 0; at = parts[std::size_t(at)].next) {
        if (parts[std::size_t(at)].id == id) {
            return true;
        }
    }
    return false;
}

// Whether an earlier record describes this device exactly, so that it can be handed out again.
bool describes(const IoDeviceInfo& record, const Draft& draft, const std::vector<Part>& parts) {
    if (record.vendorId() != draft.vendorId || record.productId() != draft.productId ||
        record.paths().size() != draft.parts || draft.serial.isNull() != record.serialNumber().isNull() ||
        !draft.serial.equals(record.serialNumber())) {
        return false;
    }
    for (int at = draft.firstPart; at >= 0; at = parts[std::size_t(at)].next) {
        const auto found = record.paths().constFind(parts[std::size_t(at)].id);
        if (found == record.paths().cend() || *found != parts[std::size_t(at)].path) {
            return false;
        }
    }
    return true;
}

IoDeviceInfo toRecord(const Draft& draft, const std::vector<Part>& parts) {
    IoDeviceInfo record(draft.vendorId, draft.productId, draft.serial.toString());
    for (int at = draft.firstPart; at >= 0; at = parts[std::size_t(at)].next) {
        record.addPath(parts[std::size_t(at)].id, QByteArray(parts[std::size_t(at)].path));
    }
    return record;
}

}  // namespace

// Only the capacity is kept between scans, so that a steady poll does not allocate its bookkeeping anew;
// what a scan found is the caller's alone.
struct IoDeviceScanner::Work {
    std::vector<Draft> drafts;
    std::vector<Part> parts;
    std::vector<int> heads;

    // Folds the enumerated interfaces into drafts, one per physical device, in enumeration order.
    void group(const hid_device_info* devices);
    // The records for the drafts: those of previous that still describe a device exactly are shared.
    [[nodiscard]] IoDeviceInfoList records(const IoDeviceInfoList& previous) const;
};

void IoDeviceScanner::Work::group(const hid_device_info* devices) {
    std::size_t interfaces = 0;
    for (const hid_device_info* device = devices; device != nullptr; device = device->next) {
        ++interfaces;
    }

    // Drafts that a later interface may join, by (vendor, product, serial number): an open-addressed table
    // of the first draft of each key, chained through nextSame in list order. Walking the whole list for
    // every interface made a crowded bus cost the square of its size.
    std::size_t capacity = 16;
    while (capacity < 2 * interfaces) {
        capacity *= 2;
    }
    heads.assign(capacity, -1);
    drafts.clear();
    parts.clear();
    drafts.reserve(interfaces);
    parts.reserve(interfaces);

    for (const hid_device_info* device = devices; device != nullptr; device = device->next) {
        if (device->path == nullptr || device->path[0] == '\0') {
            continue;
        }
        WideSerial serial(device->serial_number);
        const DeviceId id(device->vendor_id, device->product_id, device->usage_page, device->usage);

        // A device with a zero vendor or product id matches nothing and gets a record per interface.
        int* link = nullptr;
        if (device->vendor_id != 0 && device->product_id != 0) {
            std::size_t at = std::size_t(serial.hash(device->vendor_id, device->product_id)) & (capacity - 1);
            for (; heads[at] >= 0; at = (at + 1) & (capacity - 1)) {
                const Draft& head = drafts[std::size_t(heads[at])];
                if (head.vendorId == device->vendor_id && head.productId == device->product_id &&
                    serial.equals(head.serial)) {
                    break;
                }
            }
            link = &heads[at];
        }

        // The first draft of the same device that lacks this interface takes it; a repeated interface means
        // a second device with the same serial number, which starts a record of its own.
        while (link != nullptr && *link >= 0 && hasInterface(drafts[std::size_t(*link)], parts, id)) {
            link = &drafts[std::size_t(*link)].nextSame;
        }
        const int part = int(parts.size());
        parts.push_back(Part{id, device->path, -1});
        if (link != nullptr && *link >= 0) {
            Draft& draft = drafts[std::size_t(*link)];
            parts[std::size_t(draft.lastPart)].next = part;
            draft.lastPart = part;
            ++draft.parts;
            continue;
        }
        if (link != nullptr) {
            *link = int(drafts.size());
        }
        drafts.push_back(Draft{device->vendor_id, device->product_id, std::move(serial), part, part, 1, -1});
    }
}

IoDeviceInfoList IoDeviceScanner::Work::records(const IoDeviceInfoList& previous) const {
    // On a bus that has not changed since the previous result, every record is the one handed out then:
    // shared, not rebuilt, so that a steady poll allocates nothing per device.
    const int count = int(drafts.size());
    int reused = 0;
    while (reused < count && reused < previous.size() &&
           describes(previous.at(reused), drafts[std::size_t(reused)], parts)) {
        ++reused;
    }
    if (reused == count && previous.size() == count) {
        return previous;
    }
    IoDeviceInfoList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        const Draft& draft = drafts[std::size_t(i)];
        if (i < previous.size() && (i < reused || describes(previous.at(i), draft, parts))) {
            list.append(previous.at(i));
        } else {
            list.append(toRecord(draft, parts));
        }
    }
    return list;
}

IoDeviceScanner::IoDeviceScanner(IIoContext::Shared context, QObject* parent)
    : QObject(parent),
      m_context(std::move(context)),
      m_timer(std::make_unique<QTimer>()),
      m_work(std::make_unique<Work>()) {
    connect(m_timer.get(), &QTimer::timeout, this, [this] { emit detected(scan()); });
}

IoDeviceScanner::~IoDeviceScanner() = default;

IoDeviceInfoList IoDeviceScanner::scan(const IoDeviceInfoList& previous) {
    if (!m_context) {
        return {};
    }
    // Everything below, the scanner's own state included, is guarded by the HID lock.
    const auto lock = m_context->lock();
    hid_device_info* const devices = hid_enumerate(0, 0);
    m_work->group(devices);
    IoDeviceInfoList list = m_work->records(previous);
    // The drafts point into the enumeration: only their capacity may outlive it.
    m_work->drafts.clear();
    m_work->parts.clear();
    hid_free_enumeration(devices);
    return list;
}

IoDeviceInfoList IoDeviceScanner::filter(const IoDeviceInfoList& list, const Predicate& predicate) {
    IoDeviceInfoList result;
    if (!predicate) {
        return result;
    }
    for (const IoDeviceInfo& entry : list) {
        if (predicate(entry)) {
            result.append(entry);
        }
    }
    return result;
}

IoDeviceInfoList IoDeviceScanner::filterByIds(const IoDeviceInfoList& list, const QVector<DeviceId>& ids) {
    // Every key of a record carries the record's own vendor and product id: comparing those first spares
    // the hash lookups for all the devices that are not ours, which are most of the bus.
    return filter(list, [&ids](const IoDeviceInfo& entry) {
        return std::any_of(ids.cbegin(), ids.cend(), [&entry](const DeviceId& id) {
            if (id.vendorId() != entry.vendorId() || id.productId() != entry.productId()) {
                return false;
            }
            const auto found = entry.paths().constFind(id);
            return found != entry.paths().cend() && !found->isEmpty();
        });
    });
}

IoDeviceInfoList IoDeviceScanner::filterBySerialNumber(const IoDeviceInfoList& list,
                                                       const QString& serial_number) {
    return filter(
        list, [&serial_number](const IoDeviceInfo& entry) { return entry.serialNumber() == serial_number; });
}

}  // namespace Io
