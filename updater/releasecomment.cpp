#include "updater/releasecomment.h"

#include <QRegularExpression>

namespace Updater {

namespace {

QString versionText(const Global::Version& version) {
    return version.toString(version.build() != 0 ? QStringLiteral("M.m.p-b") : QStringLiteral("M.m.p"), 10);
}

}  // namespace

std::optional<ReleaseComment> ReleaseComment::parse(const QByteArray& text) {
    QString kind;
    QString model;
    QString version;
    static const QRegularExpression separators(QStringLiteral("[ \t]+"));
    const QStringList fields = QString::fromUtf8(text).split(separators, Qt::SkipEmptyParts);
    for (const QString& field : fields) {
        const int colon = field.indexOf(QLatin1Char(':'));
        const QString name = field.left(colon);
        QString* target = name == QLatin1String("kind")      ? &kind
                          : name == QLatin1String("model")   ? &model
                          : name == QLatin1String("version") ? &version
                                                             : nullptr;
        if (target == nullptr || colon < 0) {
            continue;
        }
        // A field given twice could be read one way here and another way by whoever checks by eye.
        if (!target->isNull()) {
            return std::nullopt;
        }
        *target = field.mid(colon + 1);
        if (target->isEmpty()) {
            return std::nullopt;
        }
    }
    const Global::Version parsed = Global::Version::fromString(version, 10);
    // The parser forgives; a comment is only what it prints back as.
    if (!parsed.isValid() || versionText(parsed) != version) {
        return std::nullopt;
    }
    if (kind == QLatin1String("program") && model.isNull()) {
        return ReleaseComment(Kind::Program, {}, parsed);
    }
    if (kind == QLatin1String("firmware") && !model.isNull()) {
        return ReleaseComment(Kind::Firmware, model, parsed);
    }
    return std::nullopt;
}

QByteArray ReleaseComment::toText() const {
    QString text = m_kind == Kind::Program ? QStringLiteral("kind:program")
                                           : QStringLiteral("kind:firmware model:") + m_model;
    return (text + QStringLiteral(" version:") + versionText(m_version)).toUtf8();
}

}  // namespace Updater
