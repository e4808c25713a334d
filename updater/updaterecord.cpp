#include "updater/updaterecord.h"

#include <QFile>

namespace Updater {

UpdateRecord::UpdateRecord(const QString& path, const Global::Version& version,
                           const Global::Version& revision)
    : m_path(path), m_version(version), m_revision(revision) {}

bool UpdateRecord::isValid() const {
    return QFile::exists(m_path) && m_version.isValid() && m_revision.isValid();
}

}  // namespace Updater
