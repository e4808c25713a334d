#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace TestSupport {

QByteArray readFile(const QString& path, const QByteArray& missing) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

bool writeFile(const QString& path, const QByteArray& bytes, bool executable) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        return false;
    }
    file.close();
    return !executable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

FileSizeLimit::FileSizeLimit(qint64 bytes) {
    if (getrlimit(RLIMIT_FSIZE, &m_saved) != 0) {
        return;
    }
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    m_installed = true;
    rlimit limited = m_saved;
    limited.rlim_cur = rlim_t(bytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    // The previous handler is most often SIG_DFL, a null pointer: remember that we changed it instead.
    if (m_installed) {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
}

}  // namespace TestSupport
