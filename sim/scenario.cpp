#include "sim/scenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include "sim/devicemodel.h"

namespace HidSim {

namespace {

void warnUnknownKeys(const QJsonObject& object, const QString& where,
                     std::initializer_list<const char*> known, QStringList* warnings) {
    QSet<QString> names;
    for (const char* name : known)
        names.insert(QLatin1String(name));
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!names.contains(it.key()))
            warnings->append(QStringLiteral("%1: unknown key '%2' ignored").arg(where, it.key()));
    }
}

QString join(const QString& where, const QString& key) {
    return where.isEmpty() ? key : where + QLatin1Char('.') + key;
}

QString typeOf(const QJsonValue& value) {
    switch (value.type()) {
        case QJsonValue::Null:
            return QStringLiteral("null");
        case QJsonValue::Bool:
            return QStringLiteral("a boolean");
        case QJsonValue::Double:
            return QStringLiteral("a number");
        case QJsonValue::String:
            return QStringLiteral("a string");
        case QJsonValue::Array:
            return QStringLiteral("an array");
        case QJsonValue::Object:
            return QStringLiteral("an object");
        case QJsonValue::Undefined:
            break;
    }
    return QStringLiteral("nothing");
}

bool readString(const QJsonObject& object, const QString& where, const char* key, QString* out,
                QString* error) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return true;
    if (!value.isString()) {
        *error = QStringLiteral("%1: expected a string, got %2")
                     .arg(join(where, QLatin1String(key)), typeOf(value));
        return false;
    }
    *out = value.toString();
    return true;
}

bool readBool(const QJsonObject& object, const QString& where, const char* key, bool* out, QString* error) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return true;
    if (!value.isBool()) {
        *error = QStringLiteral("%1: expected true or false, got %2")
                     .arg(join(where, QLatin1String(key)), typeOf(value));
        return false;
    }
    *out = value.toBool();
    return true;
}

bool readInt(const QJsonObject& object, const QString& where, const char* key, qint64 min, qint64 max,
             int* out, QString* error) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return true;
    qint64 number = 0;
    if (!Scenario::parseNumber(value, join(where, QLatin1String(key)), min, max, &number, error))
        return false;
    *out = int(number);
    return true;
}

bool readId(const QJsonObject& object, const QString& where, const char* key, quint16* out, QString* error) {
    int value = *out;
    if (!readInt(object, where, key, 0, 0xffff, &value, error))
        return false;
    *out = quint16(value);
    return true;
}

// Line and column of a byte offset, for a parse error a person can find.
QString position(const QByteArray& json, int offset) {
    int line = 1;
    int column = 1;
    for (int i = 0; i < offset && i < json.size(); ++i) {
        if (json[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

}  // namespace

bool Scenario::parseNumber(const QJsonValue& value, const QString& where, qint64 min, qint64 max, qint64* out,
                           QString* error) {
    qint64 number = 0;
    bool ok = false;
    if (value.isDouble()) {
        const double d = value.toDouble();
        ok = d == double(qint64(d));
        number = qint64(d);
    } else if (value.isString()) {
        const QString text = value.toString().trimmed();
        if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            number = text.mid(2).toLongLong(&ok, 16);
        else
            number = text.toLongLong(&ok, 10);
    } else {
        *error = QStringLiteral("%1: expected a number or a text such as \"0x1f\", got %2")
                     .arg(where, typeOf(value));
        return false;
    }
    if (!ok) {
        *error = QStringLiteral("%1: '%2' is not a whole number")
                     .arg(where, value.isString() ? value.toString() : QString::number(value.toDouble()));
        return false;
    }
    if (number < min || number > max) {
        *error = QStringLiteral("%1: %2 is out of range %3 to %4").arg(where).arg(number).arg(min).arg(max);
        return false;
    }
    *out = number;
    return true;
}

bool Scenario::parseType(const QString& text, DeviceType* type) {
    for (DeviceType t : {DeviceType::SorrelHeadset, DeviceType::SorrelReceiver, DeviceType::SorrelPlusHeadset,
                         DeviceType::SorrelPlusReceiver}) {
        if (text == deviceTypeName(t)) {
            *type = t;
            return true;
        }
    }
    return false;
}

bool Scenario::parseFaults(const QJsonObject& object, const QString& where, Faults* faults, QString* error,
                           QStringList* warnings) {
    warnUnknownKeys(object, where,
                    {"openFails", "writeFails", "readFails", "readTimeout", "unplugAfterWrites", "usagePage"},
                    warnings);
    return readBool(object, where, "openFails", &faults->openFails, error) &&
           readBool(object, where, "writeFails", &faults->writeFails, error) &&
           readBool(object, where, "readFails", &faults->readFails, error) &&
           readBool(object, where, "readTimeout", &faults->readTimeout, error) &&
           readInt(object, where, "unplugAfterWrites", 0, 1000000, &faults->unplugAfterWrites, error);
}

bool Scenario::parseRepair(const QJsonObject& object, const QString& where, RepairScript* repair,
                           QString* error, QStringList* warnings) {
    warnUnknownKeys(object, where, {"outcome", "after"}, warnings);
    const QJsonValue outcome = object.value(QLatin1String("outcome"));
    if (outcome.isString() && outcome.toString() == QLatin1String("never")) {
        repair->outcome = -1;
    } else if (!outcome.isUndefined()) {
        qint64 value = 0;
        const QString at = join(where, QStringLiteral("outcome"));
        if (!parseNumber(outcome, at, 0, 0xff, &value, error))
            return false;
        if (value != 0x40 && value != 0x08 && value != 0x20) {
            *error = QStringLiteral("%1: expected \"0x40\", \"0x08\", \"0x20\" or \"never\"").arg(at);
            return false;
        }
        repair->outcome = int(value);
    }
    return readInt(object, where, "after", 0, 1000000, &repair->pollsBefore, error);
}

bool Scenario::parseLink(const QJsonObject& object, const QString& where, Link* link, QString* error,
                         QStringList* warnings) {
    warnUnknownKeys(object, where,
                    {"ackLatencyMs", "ackJitterMs", "unsolicitedEveryMs", "unsolicitedReport", "strictSizes"},
                    warnings);
    constexpr qint64 kMax = 60 * 1000;
    if (!readInt(object, where, "ackLatencyMs", 0, kMax, &link->ackLatencyMs, error) ||
        !readInt(object, where, "ackJitterMs", 0, kMax, &link->ackJitterMs, error) ||
        !readInt(object, where, "unsolicitedEveryMs", 0, kMax, &link->unsolicitedEveryMs, error) ||
        !readBool(object, where, "strictSizes", &link->strictSizes, error))
        return false;
    const QJsonValue report = object.value(QLatin1String("unsolicitedReport"));
    if (report.isUndefined())
        return true;
    QString hex = report.toString();
    hex.remove(QLatin1Char(' '));
    if (hex.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        hex = hex.mid(2);
    const QRegularExpression digits(QStringLiteral("^([0-9a-fA-F]{2})*$"));
    if (!report.isString() || !digits.match(hex).hasMatch()) {
        *error = QStringLiteral("%1: expected the report's bytes in hexadecimal, such as \"0x300164\"")
                     .arg(join(where, QStringLiteral("unsolicitedReport")));
        return false;
    }
    link->unsolicitedReport = QByteArray::fromHex(hex.toLatin1());
    return true;
}

bool Scenario::parseTimings(const QJsonObject& object, const QString& where, Timings* timings, QString* error,
                            QStringList* warnings) {
    warnUnknownKeys(object, where,
                    {"leaveMs", "reenumerateMs", "resetMs", "replyDelayMs", "updateReportIntervalUs"},
                    warnings);
    constexpr qint64 kMax = 3600 * 1000;
    return readInt(object, where, "leaveMs", 0, kMax, &timings->leaveMs, error) &&
           readInt(object, where, "reenumerateMs", 0, kMax, &timings->reenumerateMs, error) &&
           readInt(object, where, "resetMs", 0, kMax, &timings->resetMs, error) &&
           readInt(object, where, "replyDelayMs", 0, kMax, &timings->replyDelayMs, error) &&
           readInt(object, where, "updateReportIntervalUs", 0, 1000000, &timings->updateReportIntervalUs,
                   error);
}

bool Scenario::parseDevice(const QJsonObject& object, const QString& where, DeviceSetup* setup, QString* error,
                           QStringList* warnings) {
    *setup = DeviceSetup();
    QString typeName;
    if (!readString(object, where, "type", &typeName, error))
        return false;
    const bool typed = object.contains(QLatin1String("type"));
    if (typed && !parseType(typeName, &setup->type)) {
        *error = QStringLiteral(
                     "%1: unknown device type '%2' (expected SorrelHeadset, SorrelReceiver, "
                     "SorrelPlusHeadset or SorrelPlusReceiver, or raw ids without a type)")
                     .arg(join(where, QStringLiteral("type")), typeName);
        return false;
    }
    if (typed) {
        warnUnknownKeys(
            object, where,
            {"type", "mode", "serial", "firmware", "revision", "manufacturer", "product", "repair", "faults",
             "link"},
            warnings);
    } else {
        warnUnknownKeys(
            object, where,
            {"vendorId", "productId", "usagePage", "usage", "serial", "manufacturer", "product", "faults", "link",
             "outputReportSize", "featureReportSize"},
            warnings);
        for (const char* key : {"vendorId", "productId"}) {
            if (!object.contains(QLatin1String(key))) {
                *error =
                    QStringLiteral("%1: a device needs a 'type' or the raw ids 'vendorId' and 'productId'")
                        .arg(where);
                return false;
            }
        }
        if (!readId(object, where, "vendorId", &setup->vendorId, error) ||
            !readId(object, where, "productId", &setup->productId, error) ||
            !readId(object, where, "usagePage", &setup->usagePage, error) ||
            !readId(object, where, "usage", &setup->usage, error) ||
            !readInt(object, where, "outputReportSize", 0, 0xffff, &setup->outputReportSize, error) ||
            !readInt(object, where, "featureReportSize", 0, 0xffff, &setup->featureReportSize, error))
            return false;
    }

    QString mode = QStringLiteral("normal");
    if (!readString(object, where, "mode", &mode, error))
        return false;
    if (mode == QLatin1String("update")) {
        setup->mode = Mode::Update;
    } else if (mode != QLatin1String("normal")) {
        *error = QStringLiteral("%1: expected \"normal\" or \"update\", got '%2'")
                     .arg(join(where, QStringLiteral("mode")), mode);
        return false;
    }

    const QJsonValue serial = object.value(QLatin1String("serial"));
    if (serial.isString()) {
        setup->serial = serial.toString();
    } else if (!serial.isUndefined() && !serial.isNull()) {
        *error = QStringLiteral("%1: expected a string or null, got %2")
                     .arg(join(where, QStringLiteral("serial")), typeOf(serial));
        return false;
    }

    if (!readString(object, where, "firmware", &setup->firmware, error))
        return false;
    DeviceModel::Firmware firmware;
    QString problem;
    if (!DeviceModel::parseFirmware(setup->firmware, &firmware, &problem)) {
        *error = QStringLiteral("%1: %2").arg(join(where, QStringLiteral("firmware")), problem);
        return false;
    }
    if (!readInt(object, where, "revision", 0, 0xff, &setup->revision, error) ||
        !readString(object, where, "manufacturer", &setup->manufacturer, error) ||
        !readString(object, where, "product", &setup->product, error))
        return false;

    for (const char* key : {"repair", "faults", "link"}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined())
            continue;
        const QString at = join(where, QLatin1String(key));
        if (!value.isObject()) {
            *error = QStringLiteral("%1: expected an object, got %2").arg(at, typeOf(value));
            return false;
        }
        const bool ok = qstrcmp(key, "repair") == 0
                            ? parseRepair(value.toObject(), at, &setup->repair, error, warnings)
                        : qstrcmp(key, "faults") == 0
                            ? parseFaults(value.toObject(), at, &setup->faults, error, warnings)
                            : parseLink(value.toObject(), at, &setup->link, error, warnings);
        if (!ok)
            return false;
    }
    return true;
}

bool Scenario::parse(const QByteArray& json, QVector<DeviceSetup>* devices, Timings* timings, QString* error,
                     QStringList* warnings) {
    devices->clear();
    *timings = Timings();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("invalid JSON at %1: %2")
                     .arg(position(json, parseError.offset), parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("expected an object with a 'devices' array at the top");
        return false;
    }
    const QJsonObject root = document.object();
    warnUnknownKeys(root, QStringLiteral("top level"), {"devices", "timing"}, warnings);
    const QJsonValue list = root.value(QLatin1String("devices"));
    if (!list.isArray()) {
        *error = list.isUndefined() ? QStringLiteral("missing the 'devices' array")
                                    : QStringLiteral("devices: expected an array, got %1").arg(typeOf(list));
        return false;
    }
    const QJsonValue timing = root.value(QLatin1String("timing"));
    if (!timing.isUndefined()) {
        if (!timing.isObject()) {
            *error = QStringLiteral("timing: expected an object, got %1").arg(typeOf(timing));
            return false;
        }
        if (!parseTimings(timing.toObject(), QStringLiteral("timing"), timings, error, warnings))
            return false;
    }
    const QJsonArray array = list.toArray();
    for (int i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("devices[%1]").arg(i);
        if (!array[i].isObject()) {
            *error = QStringLiteral("%1: expected an object, got %2").arg(where, typeOf(array[i]));
            devices->clear();
            return false;
        }
        DeviceSetup setup;
        if (!parseDevice(array[i].toObject(), where, &setup, error, warnings)) {
            devices->clear();
            return false;
        }
        devices->append(setup);
    }
    return true;
}

bool Scenario::parseFile(const QString& path, QVector<DeviceSetup>* devices, Timings* timings, QString* error,
                         QStringList* warnings) {
    QFile file(path);
    QString problem;
    QStringList local;
    bool ok = false;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot be read: %1").arg(file.errorString());
    } else {
        ok = parse(file.readAll(), devices, timings, &problem, &local);
    }
    for (const QString& warning : qAsConst(local))
        warnings->append(QStringLiteral("scenario file '%1': %2").arg(path, warning));
    if (!ok) {
        devices->clear();
        *error = QStringLiteral("scenario file '%1': %2").arg(path, problem);
    }
    return ok;
}

}  // namespace HidSim
