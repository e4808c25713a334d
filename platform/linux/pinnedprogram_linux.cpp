#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <cerrno>

#include "base/logging.h"
#include "platform/pinnedprogram.h"

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U
#endif

// The checked bytes are copied into a sealed memory file and that file is what starts: a file on disk
// can be rewritten or replaced by anyone who can write to its folder between our check and exec, a sealed
// memory file by no one. The copy costs one pass over the installer, which the check reads anyway.

namespace Platform {

namespace {

bool copyAll(int from, int to, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, static_cast<size_t>(size - done), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return false;
        // Older kernels refuse copies between file systems; fall back to plain reads.
        char buffer[64 * 1024];
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        for (ssize_t written = 0; written < got;) {
            const ssize_t w = ::write(to, buffer + written, static_cast<size_t>(got - written));
            if (w <= 0)
                return false;
            written += w;
        }
        done += got;
    }
    return true;
}

// Takes errno as a value: building the log line may change it.
void logFailure(const char* what, const QString& path, int error) {
    qCWarning(lcPlatform).nospace() << what << ' ' << path << ": " << qt_error_string(error);
}

// A memory file that may be executed. Since Linux 6.3 a memory file can be made non-executable unless it
// asks to be (vm.memfd_noexec); kernels before that refuse the flag, and their memory files are executable
// anyway.
int executableMemoryFile() {
    const int memory = ::memfd_create("meldra-installer", MFD_ALLOW_SEALING | MFD_EXEC);
    if (memory >= 0 || errno != EINVAL) {
        return memory;
    }
    return ::memfd_create("meldra-installer", MFD_ALLOW_SEALING);
}

}  // namespace

PinnedProgram::PinnedProgram(const QString& path) : m_path(path) {
    const QByteArray native = QFile::encodeName(path);
    const int source = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (source < 0) {
        logFailure("Cannot open the program", path, errno);
        return;
    }
    struct stat info {};
    if (::fstat(source, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxSize) {
        qCWarning(lcPlatform) << "Not starting" << path << ": no regular file of at most" << kMaxSize
                              << "bytes";
        ::close(source);
        return;
    }
    // Not close-on-exec: the started process reaches its own bytes through this descriptor.
    const int memory = executableMemoryFile();
    if (memory < 0) {
        logFailure("Cannot make an executable memory file for", path, errno);
        ::close(source);
        return;
    }
    errno = 0;
    const bool copied = copyAll(source, memory, info.st_size);
    const int copyError = errno;
    ::close(source);
    struct stat copy {};
    if (!copied) {
        logFailure("Cannot copy into memory", path, copyError != 0 ? copyError : EIO);
        ::close(memory);
        return;
    }
    if (::fstat(memory, &copy) != 0 ||
        ::fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0 ||
        ::fchmod(memory, S_IRUSR | S_IXUSR) != 0) {
        logFailure("Cannot seal as an executable the memory copy of", path, errno);
        ::close(memory);
        return;
    }
    m_handle = memory;
    m_size = copy.st_size;
    if (m_size > 0) {
        void* mapped = ::mmap(nullptr, static_cast<size_t>(m_size), PROT_READ, MAP_PRIVATE, memory, 0);
        if (mapped == MAP_FAILED) {
            logFailure("Cannot map the memory copy of", path, errno);
            return;
        }
        m_data = static_cast<const uchar*>(mapped);
    }
    m_open = true;
}

PinnedProgram::~PinnedProgram() {
    if (m_data != nullptr)
        ::munmap(const_cast<uchar*>(m_data), static_cast<size_t>(m_size));
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

bool PinnedProgram::hasPlatformSignature() const {
    return false;
}

bool PinnedProgram::startDetached(const QStringList& arguments) const {
    if (!m_open)
        return false;
    // Inherited by the new process, where the same number names the same sealed file.
    QProcess process;
    process.setProgram(QStringLiteral("/proc/self/fd/%1").arg(m_handle));
    process.setArguments(arguments);
    if (!process.startDetached()) {
        qCWarning(lcPlatform) << "Cannot start the pinned copy of" << m_path << ":" << process.errorString();
        return false;
    }
    return true;
}

}  // namespace Platform
