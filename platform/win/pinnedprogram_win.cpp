#include <qt_windows.h>

#include <QDir>
#include <QProcess>

#include "platform/pinnedprogram.h"
#include "platform/win/signedfile.h"

// The file stays open without write or delete sharing from the check until the process has started:
// while this handle lives nobody can open it for writing, rename it or delete it, and the system maps the
// image for the new process from the very file that was checked.

namespace Platform {

PinnedProgram::PinnedProgram(const QString& path) : m_path(path) {
    const HANDLE file =
        openPinnedFile(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()));
    if (file == INVALID_HANDLE_VALUE)
        return;
    m_handle = reinterpret_cast<qintptr>(file);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxSize)
        return;
    m_size = size.QuadPart;
    if (m_size > 0) {
        const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping == nullptr)
            return;
        m_mapping = reinterpret_cast<qintptr>(mapping);
        const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr)
            return;
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
    return QProcess::startDetached(QLatin1Char('"') + QDir::toNativeSeparators(m_path) + QLatin1Char('"'),
                                   arguments);
}

}  // namespace Platform
