// Runs under Wine: the installer check as it ships, the pinned handle and WinVerifyTrust. Given the folder
// that sign.sh filled, also copies of this program signed by our publisher and by another one.
#include <windows.h>
// After windows.h, which leaves it out when lean.
#include <wincrypt.h>

#include <fstream>
#include <string>

#include "platform/win/signedfile.h"
#include "tests/windows/wincheck.h"

using WinCheck::check;

namespace {

bool trusted(const std::wstring& path, const std::wstring& publisher) {
    const HANDLE file = Platform::openPinnedFile(path.c_str());
    const bool trusted = Platform::hasTrustedSignature(path.c_str(), file, publisher.c_str());
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
    return trusted;
}

bool refused(const std::wstring& path) {
    return !trusted(path, L"CN=Sonella Test Publisher, O=Sonella Test, C=DE");
}

std::wstring line(const std::string& path) {
    std::string text;
    std::getline(std::ifstream(path), text);
    return std::wstring(text.begin(), text.end());
}

// Our publisher accepted by its thumbprint or its subject; a valid signature by another, a changed byte
// of our signed program and no publisher at all refused. The prefix trusts the test authority from now on.
void signedCopies(const std::string& folder) {
    std::ifstream rootFile(folder + "/root.cer", std::ios::binary);
    const std::string root((std::istreambuf_iterator<char>(rootFile)), std::istreambuf_iterator<char>());
    check(::CertAddEncodedCertificateToSystemStoreW(L"Root", reinterpret_cast<const BYTE*>(root.data()),
                                                    static_cast<DWORD>(root.size())) != FALSE,
          "test authority trusted");
    const std::wstring files(folder.begin(), folder.end());
    const std::wstring thumbprint = line(folder + "/thumbprint"), subject = line(folder + "/subject");
    check(trusted(files + L"/ours.exe", thumbprint), "our publisher accepted by thumbprint");
    check(trusted(files + L"/ours.exe", subject), "our publisher accepted by subject");
    check(!trusted(files + L"/other.exe", thumbprint) && !trusted(files + L"/other.exe", subject),
          "another publisher refused");
    check(!trusted(files + L"/tampered.exe", thumbprint), "tampered copy refused");
    check(!trusted(files + L"/ours.exe", L""), "no publisher, no program");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        signedCopies(argv[1]);
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
    check(
        !Platform::hasTrustedSignature(installer.c_str(), INVALID_HANDLE_VALUE, L"CN=Sonella Test Publisher"),
        "no handle refused");

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
