#include "tools/hidsimctl/controlrequest.h"

#include <QFileInfo>
#include <QJsonDocument>

namespace {

QJsonValue valueOf(const QString& text) {
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (ok)
        return double(number);
    return text;
}

// key=value pairs, "a.b=value" into nested objects, and bare words as flags set to true.
bool addPairs(const QStringList& words, QJsonObject* object, QString* error) {
    for (const QString& word : words) {
        const int eq = word.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? word : word.left(eq);
        const QJsonValue value = eq < 0 ? QJsonValue(true) : valueOf(word.mid(eq + 1));
        if (key.isEmpty()) {
            *error = QStringLiteral("'%1' has no key").arg(word);
            return false;
        }
        const int dot = key.indexOf(QLatin1Char('.'));
        if (dot < 0) {
            object->insert(key, value);
        } else {
            QJsonObject inner = object->value(key.left(dot)).toObject();
            inner.insert(key.mid(dot + 1), value);
            object->insert(key.left(dot), inner);
        }
    }
    return true;
}

}  // namespace

QJsonObject ControlRequest::fromArguments(const QStringList& arguments, QString* error) {
    if (arguments.isEmpty()) {
        *error = QStringLiteral("no command given");
        return {};
    }
    const QString command = arguments.first();
    QStringList rest = arguments.mid(1);
    QJsonObject request{{QStringLiteral("cmd"), command}};

    if (command == QLatin1String("send")) {
        const QJsonDocument document = QJsonDocument::fromJson(rest.join(QLatin1Char(' ')).toUtf8());
        if (!document.isObject()) {
            *error = QStringLiteral("send needs one JSON object");
            return {};
        }
        return document.object();
    }
    if (command == QLatin1String("plug")) {
        const QJsonDocument document = QJsonDocument::fromJson(rest.join(QLatin1Char(' ')).toUtf8());
        if (!document.isObject()) {
            *error = QStringLiteral("plug needs the device as a JSON object, as in a scenario file");
            return {};
        }
        request.insert(QStringLiteral("device"), document.object());
        return request;
    }
    if (command == QLatin1String("load")) {
        if (rest.size() != 1) {
            *error = QStringLiteral("load needs one scenario file");
            return {};
        }
        // The simulator runs in another directory; give it a path that does not depend on ours.
        request.insert(QStringLiteral("file"), QFileInfo(rest.first()).absoluteFilePath());
        return request;
    }
    if (command == QLatin1String("clear-traffic")) {
        request.insert(QStringLiteral("cmd"), QStringLiteral("clearTraffic"));
        return request;
    }
    static const QStringList bySerial = {QStringLiteral("unplug"), QStringLiteral("replug"),
                                         QStringLiteral("fault"), QStringLiteral("set"),
                                         QStringLiteral("link")};
    if (bySerial.contains(command)) {
        if (rest.isEmpty()) {
            *error = QStringLiteral("%1 needs a serial number or id=N").arg(command);
            return {};
        }
        if (!rest.first().contains(QLatin1Char('=')))
            request.insert(QStringLiteral("serial"), rest.takeFirst());
    }
    static const QStringList known = {
        QStringLiteral("unplug"), QStringLiteral("replug"), QStringLiteral("fault"),
        QStringLiteral("set"),    QStringLiteral("link"),   QStringLiteral("timing"),
        QStringLiteral("list"),   QStringLiteral("reset"),  QStringLiteral("traffic")};
    if (!known.contains(command)) {
        *error = QStringLiteral("unknown command '%1'").arg(command);
        return {};
    }
    if (!addPairs(rest, &request, error))
        return {};
    return request;
}

QString ControlRequest::usage() {
    return QStringLiteral(
        "Commands:\n"
        "  list                               devices on the bus\n"
        "  plug '<device json>'               plug a device given as in a scenario file\n"
        "  unplug <serial>|id=N               pull a device\n"
        "  replug <serial>|id=N [afterMs=N]   pull it and plug it back\n"
        "  fault <serial>|id=N [openFails] [writeFails] [readFails] [readTimeout]\n"
        "        [unplugAfterWrites=N] [usagePage=0xffa1]   set faults (none given: clear them)\n"
        "  set <serial>|id=N [firmware=1.46.0] [revision=4] [mode=normal|update] [afterMs=N]\n"
        "        [repair.outcome=0x40|0x08|0x20|never] [repair.after=N]\n"
        "  link <serial>|id=N [ackLatencyMs=N] [ackJitterMs=N] [unsolicitedEveryMs=N]\n"
        "        [unsolicitedReport=0x300164] [strictSizes=true|false]   how close to hardware it is\n"
        "  timing [leaveMs=N] [reenumerateMs=N] [resetMs=N] [replyDelayMs=N] [updateReportIntervalUs=N]\n"
        "  traffic [serial=S] [usagePage=0xffa0] [kind=write|read|open|...] [prefix=0201]\n"
        "  clear-traffic | reset | load <scenario.json> | send '<request json>'\n");
}
