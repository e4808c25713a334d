#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "io/version.h"

namespace Updater {

// What a release says it is, in the trusted comment its signature covers, so that a signed file cannot be
// offered as something else: another version, a program as firmware, one model's image as another's.
//   kind:program version:1.3.0
//   kind:firmware model:Sorrel version:1.46.0
// Fields are "name:value", separated by spaces or tabs, in any order. Fields of other names (minisign's
// own "timestamp:" and "file:") are ignored; each of ours appears at most once, and a program names no
// model. A version with a build number is written "1.46.0-7".
class ReleaseComment {
public:
    enum class Kind { Program, Firmware };

    ReleaseComment(Kind kind, const QString& model, const Global::Version& version)
        : m_kind(kind), m_model(kind == Kind::Firmware ? model : QString()), m_version(version) {}

    [[nodiscard]] static std::optional<ReleaseComment> parse(const QByteArray& text);
    [[nodiscard]] QByteArray toText() const;

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] const QString& model() const { return m_model; }
    [[nodiscard]] const Global::Version& version() const { return m_version; }

    bool operator==(const ReleaseComment& other) const {
        return m_kind == other.m_kind && m_model == other.m_model && m_version == other.m_version;
    }
    bool operator!=(const ReleaseComment& other) const { return !(*this == other); }

private:
    Kind m_kind;
    QString m_model;
    Global::Version m_version;
};

}  // namespace Updater
