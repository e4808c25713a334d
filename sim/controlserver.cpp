#include "sim/controlserver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cstring>

#include "sim/hidsim.h"
#include "sim/scenario.h"

namespace HidSim {

namespace {

constexpr int kMaxLine = 1 << 20;  // a request longer than this is not a request
constexpr int kTrafficReplyEntries = 500;

QByteArray reply(QJsonObject object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray failure(const QString& message) {
    return reply({{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}});
}

QString modeName(Mode mode) {
    return mode == Mode::Update ? QStringLiteral("update") : QStringLiteral("normal");
}

QString hex(quint16 value) {
    return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0'));
}

QJsonObject toJson(const DeviceState& state) {
    QJsonArray interfaces;
    for (const Interface& i : state.interfaces) {
        interfaces.append(QJsonObject{{QStringLiteral("path"), i.path},
                                      {QStringLiteral("vendorId"), hex(i.vendorId)},
                                      {QStringLiteral("productId"), hex(i.productId)},
                                      {QStringLiteral("usagePage"), hex(i.usagePage)},
                                      {QStringLiteral("usage"), hex(i.usage)},
                                      {QStringLiteral("outputReportSize"), i.outputReportSize},
                                      {QStringLiteral("featureReportSize"), i.featureReportSize}});
    }
    return {{QStringLiteral("id"), state.id},
            {QStringLiteral("type"), deviceTypeName(state.type)},
            {QStringLiteral("mode"), modeName(state.mode)},
            {QStringLiteral("present"), state.present},
            {QStringLiteral("serial"), state.serial.isNull() ? QJsonValue() : QJsonValue(state.serial)},
            {QStringLiteral("firmware"), state.firmware},
            {QStringLiteral("revision"), state.revision},
            {QStringLiteral("interfaces"), interfaces},
            {QStringLiteral("enterUpdate"), state.enterUpdateCount},
            {QStringLiteral("postUpdate"), state.postUpdateCount},
            {QStringLiteral("repairStart"), state.repairStartCount},
            {QStringLiteral("repairPoll"), state.repairPollCount},
            {QStringLiteral("repairEnd"), state.repairEndCount},
            {QStringLiteral("pairing"), state.pairing},
            {QStringLiteral("link"),
             QJsonObject{{QStringLiteral("ackLatencyMs"), state.link.ackLatencyMs},
                         {QStringLiteral("ackJitterMs"), state.link.ackJitterMs},
                         {QStringLiteral("unsolicitedEveryMs"), state.link.unsolicitedEveryMs},
                         {QStringLiteral("unsolicitedReport"),
                          QString::fromLatin1(state.link.unsolicitedReport.toHex())},
                         {QStringLiteral("strictSizes"), state.link.strictSizes}}}};
}

// The devices a request names by "id" or by "serial" (every device with that serial number).
bool select(const QJsonObject& request, QVector<int>* ids, QString* error) {
    if (request.contains(QLatin1String("id"))) {
        qint64 id = 0;
        if (!Scenario::parseNumber(request.value(QLatin1String("id")), QStringLiteral("id"), 1, INT_MAX, &id,
                                   error))
            return false;
        if (device(int(id)).id == 0) {
            *error = QStringLiteral("no device with id %1").arg(id);
            return false;
        }
        *ids = {int(id)};
        return true;
    }
    const QJsonValue serial = request.value(QLatin1String("serial"));
    if (!serial.isString()) {
        *error = QStringLiteral("name the device by \"id\" or \"serial\"");
        return false;
    }
    *ids = findSerial(serial.toString());
    if (ids->isEmpty()) {
        *error = QStringLiteral("no device with serial number '%1'").arg(serial.toString());
        return false;
    }
    return true;
}

QByteArray handleSet(const QJsonObject& request, const QVector<int>& ids) {
    QString error;
    QStringList warnings;
    const QString firmware = request.value(QLatin1String("firmware")).toString();
    if (request.contains(QLatin1String("firmware"))) {
        if (!request.value(QLatin1String("firmware")).isString())
            return failure(QStringLiteral("firmware: expected a string"));
        DeviceSetup probe;
        QJsonObject check{{QStringLiteral("type"), QStringLiteral("SorrelHeadset")},
                          {QStringLiteral("firmware"), firmware}};
        if (!Scenario::parseDevice(check, QString(), &probe, &error, &warnings))
            return failure(error);
    }
    qint64 revision = -1;
    if (request.contains(QLatin1String("revision")) &&
        !Scenario::parseNumber(request.value(QLatin1String("revision")), QStringLiteral("revision"), 0, 0xff,
                               &revision, &error))
        return failure(error);
    RepairScript repair;
    const bool hasRepair = request.value(QLatin1String("repair")).isObject();
    if (hasRepair && !Scenario::parseRepair(request.value(QLatin1String("repair")).toObject(),
                                            QStringLiteral("repair"), &repair, &error, &warnings))
        return failure(error);
    const QString mode = request.value(QLatin1String("mode")).toString();
    if (request.contains(QLatin1String("mode")) && mode != QLatin1String("normal") &&
        mode != QLatin1String("update"))
        return failure(QStringLiteral("mode: expected \"normal\" or \"update\""));
    qint64 afterMs = 0;
    if (request.contains(QLatin1String("afterMs")) &&
        !Scenario::parseNumber(request.value(QLatin1String("afterMs")), QStringLiteral("afterMs"), 0, 3600000,
                               &afterMs, &error))
        return failure(error);

    for (int id : ids) {
        if (!firmware.isEmpty())
            setFirmware(id, firmware);
        if (revision >= 0)
            setRevision(id, int(revision));
        if (hasRepair)
            setRepair(id, repair);
        if (!mode.isEmpty())
            setMode(id, mode == QLatin1String("update") ? Mode::Update : Mode::Normal, int(afterMs));
    }
    return reply({{QStringLiteral("ok"), true}, {QStringLiteral("count"), ids.size()}});
}

QByteArray handleTraffic(const QJsonObject& request) {
    TrafficFilter filter;
    QString error;
    if (request.value(QLatin1String("serial")).isString())
        filter.serial = request.value(QLatin1String("serial")).toString();
    if (request.contains(QLatin1String("usagePage"))) {
        qint64 page = 0;
        if (!Scenario::parseNumber(request.value(QLatin1String("usagePage")), QStringLiteral("usagePage"), 0,
                                   0xffff, &page, &error))
            return failure(error);
        filter.usagePage = quint16(page);
    }
    static const QStringList kinds = {QStringLiteral("open"),       QStringLiteral("openRefused"),
                                      QStringLiteral("close"),      QStringLiteral("write"),
                                      QStringLiteral("read"),       QStringLiteral("sendFeature"),
                                      QStringLiteral("getFeature"), QStringLiteral("getInput")};
    if (request.contains(QLatin1String("kind"))) {
        filter.kind = kinds.indexOf(request.value(QLatin1String("kind")).toString());
        if (filter.kind < 0)
            return failure(QStringLiteral("kind: expected one of %1").arg(kinds.join(QStringLiteral(", "))));
    }
    if (request.contains(QLatin1String("prefix")))
        filter.prefix = QByteArray::fromHex(request.value(QLatin1String("prefix")).toString().toLatin1());
    const QVector<TrafficEntry> entries = traffic(filter);
    QJsonArray list;
    for (int i = std::max(0, entries.size() - kTrafficReplyEntries); i < entries.size(); ++i) {
        const TrafficEntry& e = entries[i];
        list.append(QJsonObject{{QStringLiteral("seq"), qint64(e.sequence)},
                                {QStringLiteral("kind"), kinds.value(int(e.kind))},
                                {QStringLiteral("path"), e.path},
                                {QStringLiteral("serial"), e.serial},
                                {QStringLiteral("usagePage"), hex(e.usagePage)},
                                {QStringLiteral("bytes"), QString::fromLatin1(e.bytes.toHex(' '))},
                                {QStringLiteral("result"), e.result}});
    }
    return reply({{QStringLiteral("ok"), true},
                  {QStringLiteral("count"), entries.size()},
                  {QStringLiteral("entries"), list}});
}

}  // namespace

ControlServer::~ControlServer() {
    adopt(-1, std::string());
}

int ControlServer::listen(const QString& path, QString* error) {
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.size() >= int(sizeof(address.sun_path))) {
        *error = QStringLiteral("'%1': the path is too long for a unix socket").arg(path);
        return -1;
    }
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int bindError = errno;
        bool replaced = false;
        if (bindError == EADDRINUSE) {
            // Children of a preloaded program inherit the variable; the first process keeps the socket.
            const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool live = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
            ::close(probe);
            if (live) {
                ::close(fd);
                *error = QStringLiteral("'%1' is in use by another process").arg(path);
                return -1;
            }
            ::unlink(native.constData());
            replaced = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        }
        if (!replaced) {
            *error = QStringLiteral("'%1': %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            return -1;
        }
    }
    if (::listen(fd, 8) != 0) {
        *error = QStringLiteral("'%1': %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

void ControlServer::adopt(int listenFd, const std::string& path) {
    for (const Client& client : m_clients)
        ::close(client.fd);
    m_clients.clear();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(m_path.c_str());
    }
    m_listenFd = listenFd;
    m_path = listenFd >= 0 ? path : std::string();
}

void ControlServer::poll(int wakeFd, int timeoutMs) {
    std::vector<pollfd> fds;
    fds.push_back({wakeFd, POLLIN, 0});
    if (m_listenFd >= 0)
        fds.push_back({m_listenFd, POLLIN, 0});
    for (const Client& client : m_clients)
        fds.push_back({client.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
        return;

    char drain[64];
    while (::read(wakeFd, drain, sizeof(drain)) > 0) {
    }
    if (m_listenFd >= 0 && (fds[1].revents & POLLIN)) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            m_clients.push_back({fd, QByteArray()});
    }
    const size_t first = m_listenFd >= 0 ? 2 : 1;
    std::vector<int> gone;
    for (size_t i = first; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        Client& client = m_clients[i - first];
        char chunk[4096];
        const ssize_t n = ::read(client.fd, chunk, sizeof(chunk));
        if (n <= 0) {
            gone.push_back(client.fd);
            continue;
        }
        client.buffer.append(chunk, int(n));
        int newline;
        while ((newline = client.buffer.indexOf('\n')) >= 0) {
            const QByteArray line = client.buffer.left(newline).trimmed();
            client.buffer.remove(0, newline + 1);
            if (line.isEmpty())
                continue;
            const QByteArray answer = handle(line) + '\n';
            const char* p = answer.constData();
            size_t left = size_t(answer.size());
            while (left > 0) {
                const ssize_t w = ::send(client.fd, p, left, MSG_NOSIGNAL);
                if (w <= 0)
                    break;
                p += w;
                left -= size_t(w);
            }
        }
        if (client.buffer.size() > kMaxLine)
            gone.push_back(client.fd);
    }
    for (int fd : gone) {
        ::close(fd);
        m_clients.erase(
            std::remove_if(m_clients.begin(), m_clients.end(), [fd](const Client& c) { return c.fd == fd; }),
            m_clients.end());
    }
}

QByteArray ControlServer::handle(const QByteArray& line) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return failure(QStringLiteral("expected one JSON object per line"));
    const QJsonObject request = document.object();
    const QString command = request.value(QLatin1String("cmd")).toString();
    QString error;
    QStringList warnings;
    QVector<int> ids;

    if (command == QLatin1String("plug")) {
        DeviceSetup setup;
        if (!request.value(QLatin1String("device")).isObject())
            return failure(QStringLiteral("device: expected an object"));
        if (!Scenario::parseDevice(request.value(QLatin1String("device")).toObject(),
                                   QStringLiteral("device"), &setup, &error, &warnings))
            return failure(error);
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("id"), plug(setup)}});
    }
    if (command == QLatin1String("unplug") || command == QLatin1String("replug") ||
        command == QLatin1String("fault") || command == QLatin1String("set") ||
        command == QLatin1String("link")) {
        if (!select(request, &ids, &error))
            return failure(error);
    }
    if (command == QLatin1String("unplug")) {
        for (int id : ids)
            unplug(id);
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("count"), ids.size()}});
    }
    if (command == QLatin1String("replug")) {
        qint64 afterMs = 0;
        if (request.contains(QLatin1String("afterMs")) &&
            !Scenario::parseNumber(request.value(QLatin1String("afterMs")), QStringLiteral("afterMs"), 0,
                                   3600000, &afterMs, &error))
            return failure(error);
        for (int id : ids)
            replug(id, int(afterMs));
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("count"), ids.size()}});
    }
    if (command == QLatin1String("fault")) {
        Faults faults;
        qint64 page = 0;
        if (!Scenario::parseFaults(request, QString(), &faults, &error, &warnings))
            return failure(error);
        if (request.contains(QLatin1String("usagePage")) &&
            !Scenario::parseNumber(request.value(QLatin1String("usagePage")), QStringLiteral("usagePage"), 0,
                                   0xffff, &page, &error))
            return failure(error);
        for (int id : ids)
            setFaults(id, faults, quint16(page));
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("count"), ids.size()}});
    }
    if (command == QLatin1String("set"))
        return handleSet(request, ids);
    if (command == QLatin1String("link")) {
        // Each device keeps what the request does not name; the request is checked before any change.
        Link probe;
        if (!Scenario::parseLink(request, QString(), &probe, &error, &warnings))
            return failure(error);
        for (int id : ids) {
            Link link = device(id).link;
            if (Scenario::parseLink(request, QString(), &link, &error, &warnings))
                setLink(id, link);
        }
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("count"), ids.size()}});
    }
    if (command == QLatin1String("timing")) {
        Timings t = timings();
        if (!Scenario::parseTimings(request, QString(), &t, &error, &warnings))
            return failure(error);
        setTimings(t);
        return reply({{QStringLiteral("ok"), true}});
    }
    if (command == QLatin1String("load")) {
        // A refused file leaves the running bus as it is; only the start-up file empties it.
        QVector<DeviceSetup> setups;
        Timings parsed;
        bool ok = false;
        if (request.value(QLatin1String("file")).isString()) {
            const QString path = request.value(QLatin1String("file")).toString();
            ok = Scenario::parseFile(path, &setups, &parsed, &error, &warnings) &&
                 loadScenarioFile(path, &error);
        } else if (request.value(QLatin1String("scenario")).isObject()) {
            const QByteArray json =
                QJsonDocument(request.value(QLatin1String("scenario")).toObject()).toJson();
            ok = Scenario::parse(json, &setups, &parsed, &error, &warnings) && loadScenario(json, &error);
        } else {
            error = QStringLiteral("give \"file\" or \"scenario\"");
        }
        return ok ? reply({{QStringLiteral("ok"), true}}) : failure(error);
    }
    if (command == QLatin1String("reset")) {
        HidSim::reset();
        return reply({{QStringLiteral("ok"), true}});
    }
    if (command == QLatin1String("list")) {
        QJsonArray list;
        for (const DeviceState& state : devices())
            list.append(toJson(state));
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("devices"), list}});
    }
    if (command == QLatin1String("traffic"))
        return handleTraffic(request);
    if (command == QLatin1String("enumerations"))
        return reply({{QStringLiteral("ok"), true}, {QStringLiteral("count"), enumerations()}});
    if (command == QLatin1String("clearTraffic")) {
        clearTraffic();
        return reply({{QStringLiteral("ok"), true}});
    }
    return failure(QStringLiteral("unknown command '%1'").arg(command));
}

}  // namespace HidSim
