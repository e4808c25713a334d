// Stands in for Installer.exe inside a test bundle: notes where it ran, with which arguments, and whether
// the package lay beside it, in the file that SETUP_REPORT names.
#include <windows.h>

#include <string>

#include "tests/windows/wincheck.h"

int wmain() {
    wchar_t self[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring folder(self);
    folder.resize(folder.rfind(L'\\'));
    std::wstring arguments = ::GetCommandLineW();
    arguments = arguments.substr(arguments.find(L"Installer.exe\"") + 14);
    const bool package =
        ::GetFileAttributesW((folder + L"\\data\\Meldra.msi").c_str()) != INVALID_FILE_ATTRIBUTES;

    wchar_t report[MAX_PATH * 4] = {};
    ::GetEnvironmentVariableW(L"SETUP_REPORT", report, MAX_PATH * 4);
    const std::string text =
        WinCheck::utf8Of(folder + L"\n" + arguments + L"\n" + (package ? L"package" : L"none"));
    const HANDLE out =
        ::CreateFileW(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
    ::CloseHandle(out);
    return 7;
}
