#pragma once

// What the Windows test programs share: a check that prints and counts, and the folder name that the
// ANSI code page cannot spell.
#include <windows.h>

#include <cstdio>
#include <string>

namespace WinCheck {

inline int failures = 0;

inline void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    if (!ok)
        ++failures;
}

inline int result() {
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}

inline std::string utf8Of(const std::wstring& wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length - 1));
    return utf8;
}

// A fresh folder "Jürgen Temp <name>" in the temporary folder, as a user's profile path would have it.
inline std::wstring userFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH + 1] = {};
    check(::GetTempPathW(MAX_PATH, temp) > 0, "temporary folder");
    const std::wstring folder = std::wstring(temp) + L"J\u00fcrgen Temp " + name;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

}  // namespace WinCheck
