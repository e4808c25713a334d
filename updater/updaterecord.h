#pragma once

#include <QMetaType>
#include <QString>

#include "base/smarttype.h"
#include "io/version.h"

namespace Updater {

// One downloaded update file. Immutable; validity is looked up afresh each time, so a record turns
// invalid as soon as its file disappears.
class UpdateRecord : public Utils::SmartType<UpdateRecord> {
public:
    UpdateRecord(const QString& path, const Global::Version& version, const Global::Version& revision);

    [[nodiscard]] const Global::Version& version() const { return m_version; }
    [[nodiscard]] const Global::Version& revision() const { return m_revision; }
    [[nodiscard]] const QString& path() const { return m_path; }

    [[nodiscard]] bool isValid() const;

private:
    const QString m_path;
    const Global::Version m_version;
    const Global::Version m_revision;
};

}  // namespace Updater

Q_DECLARE_METATYPE(Updater::UpdateRecord::Shared)
