#include <qt_windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <QDir>
#include <QProcess>

#include "platform/pinnedprogram.h"

// The file stays open without write or delete sharing from the check until the process has started:
// while this handle lives nobody can open it for writing, rename it or delete it, and the system maps the
// image for the new process from the very file that was checked.

namespace Platform {

PinnedProgram::PinnedProgram(const QString& path) : m_path(path) {
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
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
    WINTRUST_FILE_INFO file_info{};
    file_info.cbStruct = sizeof(file_info);
    file_info.pcwszFilePath = reinterpret_cast<const wchar_t*>(native.utf16());
    // The pinned handle: the signature is checked on the bytes that will start.
    file_info.hFile = reinterpret_cast<HANDLE>(m_handle);
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file_info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return status == ERROR_SUCCESS;
}

bool PinnedProgram::startDetached(const QStringList& arguments) const {
    if (!m_open)
        return false;
    // The program text heads a command line; the quotes keep a path with blanks in one piece.
    return QProcess::startDetached(QLatin1Char('"') + QDir::toNativeSeparators(m_path) + QLatin1Char('"'),
                                   arguments);
}

}  // namespace Platform
