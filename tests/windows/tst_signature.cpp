// Runs under Wine: the installer check as it ships, the pinned handle and WinVerifyTrust.
#include <windows.h>

#include <string>

#include "platform/win/signedfile.h"
#include "tests/windows/wincheck.h"

using WinCheck::check;

namespace {

bool refused(const std::wstring& path) {
    const HANDLE file = Platform::openPinnedFile(path.c_str());
    const bool trusted = Platform::hasTrustedSignature(path.c_str(), file);
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
    return !trusted;
}

}  // namespace

int main() {
    const std::wstring folder = WinCheck::userFolder(L"signature");
    wchar_t self[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    // This program is a well-formed executable without a signature, as a tampered download would be.
    const std::wstring installer = folder + L"\\Installer \u00fc.exe";
    check(::CopyFileW(self, installer.c_str(), FALSE) != FALSE, "unsigned installer copied");
    check(refused(installer), "unsigned installer refused");
    const std::wstring text = folder + L"\\notes.txt";
    const HANDLE out = ::CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(out, "MZ not a program", 16, &written, nullptr);
    ::CloseHandle(out);
    check(refused(text), "file that is no program refused");
    check(refused(folder + L"\\missing.exe"), "missing file refused");
    check(!Platform::hasTrustedSignature(installer.c_str(), INVALID_HANDLE_VALUE), "no handle refused");

    // While pinned, the checked file cannot be swapped for another before it starts.
    const HANDLE pinned = Platform::openPinnedFile(installer.c_str());
    check(pinned != INVALID_HANDLE_VALUE, "installer pinned under its wide name");
    const HANDLE writer = ::CreateFileW(installer.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    check(writer == INVALID_HANDLE_VALUE, "no writer while pinned");
    if (writer != INVALID_HANDLE_VALUE)
        ::CloseHandle(writer);
    const std::wstring moved = folder + L"\\moved.exe";
    check(::MoveFileW(installer.c_str(), moved.c_str()) == FALSE, "no rename while pinned");
    check(::DeleteFileW(installer.c_str()) == FALSE, "no delete while pinned");
    const HANDLE reader =
        ::CreateFileW(installer.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    check(reader != INVALID_HANDLE_VALUE, "readers still welcome");
    ::CloseHandle(reader);
    ::CloseHandle(pinned);
    check(::DeleteFileW(installer.c_str()) != FALSE, "deleted once released");

    ::DeleteFileW(moved.c_str());
    ::DeleteFileW(text.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return WinCheck::result();
}
