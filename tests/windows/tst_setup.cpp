// Runs under Wine: the one-file program update, with a stand-in installer in its bundle, from a folder and
// into a temporary folder whose names have a blank and a letter outside ASCII.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/windows/wincheck.h"

using WinCheck::check;

namespace {

std::wstring folderOfThisProgram() {
    wchar_t self[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring folder(self);
    return folder.substr(0, folder.rfind(L'\\'));
}

std::string readAll(const std::wstring& path) {
    const HANDLE in =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return {};
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(in, &size);
    std::string text(std::size_t(size.QuadPart), '\0');
    DWORD read = 0;
    ::ReadFile(in, text.data(), DWORD(text.size()), &read, nullptr);
    ::CloseHandle(in);
    text.resize(read);
    return text;
}

bool writeAll(const std::wstring& path, const std::string& bytes) {
    const HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = out != INVALID_HANDLE_VALUE &&
                    ::WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    ::CloseHandle(out);
    return ok;
}

// Runs the file with "-update" and returns its exit code.
DWORD run(const std::wstring& program) {
    std::wstring command = L"\"" + program + L"\" -update";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return DWORD(-1);
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = DWORD(-1);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

bool isEmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            entries += std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..";
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    return entries == 0;
}

}  // namespace

int main() {
    const std::string setup = readAll(folderOfThisProgram() + L"\\setup-test.exe");
    check(setup.size() > 4096, "the test's setup file was built");

    const std::wstring folder = WinCheck::userFolder(L"setup");
    const std::wstring temp = folder + L"\\Temp \u00e9t\u00e9";
    ::CreateDirectoryW(temp.c_str(), nullptr);
    ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
    const std::wstring report = folder + L"\\report.txt";
    ::SetEnvironmentVariableW(L"SETUP_REPORT", report.c_str());

    const std::wstring program = folder + L"\\Sonella Setup \u00e9.exe";
    check(writeAll(program, setup), "setup file copied under a name with a blank and an accent");
    check(run(program) == 7, "the installer's own exit code comes back");
    const std::string seen = readAll(report);
    const std::string expectedFolder = WinCheck::utf8Of(temp + L"\\sonella-setup-");
    check(seen.rfind(expectedFolder, 0) == 0,
          "the installer ran from a fresh folder in the temporary folder");
    check(seen.find("\n -update\npackage") != std::string::npos, "with -update and its package beside it");
    check(isEmptyFolder(temp), "the folder is removed afterwards");

    // Signed, the file ends in a certificate table that the security directory points at.
    std::string signedSetup = setup + std::string(64, '\x5a');
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(signedSetup.data());
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(signedSetup.data() + dos->e_lfanew);
    nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = {DWORD(setup.size()), 64};
    ::DeleteFileW(report.c_str());
    check(writeAll(program, signedSetup) && run(program) == 7,
          "a signed file finds its bundle before the table");
    check(::GetFileAttributesW(report.c_str()) != INVALID_FILE_ATTRIBUTES && isEmptyFolder(temp), "and runs");

    // A download cut short, and one with a byte changed inside the bundle: nothing is unpacked or run.
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"truncated", setup.substr(0, setup.size() - 1000)},
        {"bundle cut short before an intact trailer",
         setup.substr(0, setup.size() - 48 - 1000) + setup.substr(setup.size() - 48)},
        {"altered",
         [&setup] {
             std::string altered = setup;
             altered[altered.size() - 48 - 8] ^= 0x01;
             return altered;
         }()},
    };
    for (const auto& [name, bytes] : damaged) {
        ::DeleteFileW(report.c_str());
        check(writeAll(program, bytes), name);
        check(run(program) == 90, "damaged file refused with its code");
        check(::GetFileAttributesW(report.c_str()) == INVALID_FILE_ATTRIBUTES, "nothing ran");
        check(isEmptyFolder(temp), "nothing was left in the temporary folder");
    }

    ::DeleteFileW(program.c_str());
    ::DeleteFileW(report.c_str());
    ::RemoveDirectoryW(temp.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return WinCheck::result();
}
