#include "cli/output.h"

#include <QJsonDocument>
#include <QMetaEnum>
#include <cstdio>

#include "cli/exitcode.h"
#include "mediator/knowndevicetable.h"
#include "mediator/uifirmwareupdatemediator.h"

namespace Cli {

namespace {

void write(FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

const char* exitCodeName(int code) {
    switch (code) {
        case kSuccess:
            return "ok";
        case kUsage:
            return "usage";
        case kNoDevice:
            return "no-device";
        case kManyDevices:
            return "more-than-one-device";
        case kFailed:
            return "failed";
        case kFileRefused:
            return "file-refused";
        case kNetwork:
            return "network";
        case kBusy:
            return "busy";
    }
    return "unknown";
}

Output::Output(const QString& command, bool json) : m_json(json) {
    m_document.insert(QStringLiteral("format"), kFormat);
    m_document.insert(QStringLiteral("command"), command);
}

void Output::text(const QString& line) const {
    if (!m_json)
        write(stdout, line);
}

void Output::progress(const QString& line) const {
    write(stderr, line);
}

void Output::error(const QString& message) {
    m_document.insert(QStringLiteral("message"), message);
    write(stderr, message);
}

int Output::finish(int code) {
    if (m_json) {
        m_document.insert(QStringLiteral("exitCode"), code);
        m_document.insert(QStringLiteral("result"), QString::fromLatin1(exitCodeName(code)));
        write(stdout, QString::fromUtf8(QJsonDocument(m_document).toJson(QJsonDocument::Indented)).trimmed());
    }
    return code;
}

QJsonObject Output::device(const UIMediator::DeviceRules::Device& device, const Global::Version& firmware,
                           const Global::Version& revision) {
    QJsonObject object;
    object.insert(QStringLiteral("model"), model(device.type));
    object.insert(QStringLiteral("family"), UIMediator::KnownDeviceTable::familyName(device.type));
    object.insert(QStringLiteral("kind"), kind(device.type));
    object.insert(QStringLiteral("serial"), device.info.serialNumber());
    object.insert(QStringLiteral("mode"),
                  device.updateMode ? QStringLiteral("update") : QStringLiteral("normal"));
    object.insert(QStringLiteral("firmware"),
                  firmware.isValid() ? QJsonValue(version(firmware)) : QJsonValue());
    object.insert(QStringLiteral("revision"),
                  revision.isValid() ? QJsonValue(version(revision)) : QJsonValue());
    return object;
}

QString Output::version(const Global::Version& version) {
    if (!version.isValid())
        return {};
    return version.toString(version.build() != 0 ? QStringLiteral("M.m.p-b") : QStringLiteral("M.m.p"), 10);
}

QString Output::kind(UIMediator::DeviceRules::DeviceType type) {
    return UIMediator::DeviceRules::isReceiver(type) ? QStringLiteral("receiver") : QStringLiteral("headset");
}

QString Output::model(UIMediator::DeviceRules::DeviceType type) {
    const QMetaEnum types = QMetaEnum::fromType<UIMediator::UIFirmwareUpdateMediator::DeviceType>();
    return QString::fromLatin1(types.valueToKey(int(type)));
}

}  // namespace Cli
