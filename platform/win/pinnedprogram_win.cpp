#include <qt_windows.h>

#include <QDir>
#include <QProcess>

#include "base/logging.h"
#include "platform/pinnedprogram.h"
#include "platform/win/signedfile.h"

// The file stays open without write or delete sharing from the check until the process has started:
// while this handle lives nobody can open it for writing, rename it or delete it, and the system maps the
// image for the new process from the very file that was checked.

namespace Platform {

namespace {

// Takes the error as a value: building the log line may change it.
void logFailure(const char* what, const QString& path, DWORD error) {
    qCWarning(lcPlatform).nospace() << what << ' ' << QDir::toNativeSeparators(path) << ": "
                                    << qt_error_string(int(error));
}

}  // namespace

PinnedProgram::PinnedProgram(const QString& path) : m_path(path) {
    const HANDLE file =
        openPinnedFile(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()));
    if (file == INVALID_HANDLE_VALUE) {
        logFailure("Cannot open the program", path, GetLastError());
        return;
    }
    m_handle = reinterpret_cast<qintptr>(file);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxSize) {
        qCWarning(lcPlatform) << "Not starting" << QDir::toNativeSeparators(path) << ": no file of at most"
                              << kMaxSize << "bytes";
        return;
    }
    m_size = size.QuadPart;
    if (m_size > 0) {
        const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping == nullptr) {
            logFailure("Cannot map the program", path, GetLastError());
            return;
        }
        m_mapping = reinterpret_cast<qintptr>(mapping);
        const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr) {
            logFailure("Cannot read the program", path, GetLastError());
            return;
        }
        m_data = static_cast<const uchar*>(view);
    }
    m_open = true;
}

PinnedProgram::~PinnedProgram() {
    if (m_data != nullptr)
        UnmapViewOfFile(m_data);
    if (m_mapping != 0)
        CloseHandle(reinterpret_cast<HANDLE>(m_mapping));
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool PinnedProgram::hasPlatformSignature() const {
    if (!m_open)
        return false;
    const QString native = QDir::toNativeSeparators(m_path);
    return hasTrustedSignature(reinterpret_cast<const wchar_t*>(native.utf16()),
                               reinterpret_cast<HANDLE>(m_handle), builtInPublisher());
}

bool PinnedProgram::startDetached(const QStringList& arguments) const {
    if (!m_open)
        return false;
    // The program text heads a command line; the quotes keep a path with blanks in one piece.
    if (!QProcess::startDetached(QLatin1Char('"') + QDir::toNativeSeparators(m_path) + QLatin1Char('"'),
                                 arguments)) {
        qCWarning(lcPlatform) << "Cannot start the pinned copy of" << QDir::toNativeSeparators(m_path);
        return false;
    }
    return true;
}

}  // namespace Platform
