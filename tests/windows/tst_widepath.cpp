// Runs under Wine: the engine's files in a folder whose name Windows' narrow functions cannot spell.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hiddfu/widepath.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    if (!ok)
        ++failures;
}

std::string utf8Of(const std::wstring& wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length - 1));
    return utf8;
}

}  // namespace

int main() {
    wchar_t temp[MAX_PATH + 1] = {};
    check(::GetTempPathW(MAX_PATH, temp) > 0, "temporary folder");
    const std::wstring folder = std::wstring(temp) + L"J\u00fcrgen Temp";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\image \u00fc.dfu";
    const std::string path = utf8Of(file);

    const std::vector<char> image = {'\x00', '\x01', '\xfe', '\xff', 'U', 'F', 'D', '\x10'};
    {
        std::ofstream out;
        HidDfu::openUtf8(out, path.c_str(), std::ios::binary | std::ios::trunc);
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
        out.close();
        check(static_cast<bool>(out), "image written through the UTF-8 path");
    }
    // The file must carry the real name, not one mangled through the ANSI code page.
    check(::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES, "file found under its wide name");
    {
        std::ifstream in;
        HidDfu::openUtf8(in, path.c_str(), std::ios::binary | std::ios::ate);
        check(static_cast<bool>(in) && in.tellg() == static_cast<std::streamoff>(image.size()), "image size");
        std::vector<char> read(image.size());
        in.seekg(0);
        in.read(read.data(), static_cast<std::streamsize>(read.size()));
        check(static_cast<bool>(in) && read == image, "image read back unchanged");
    }
    for (const char* bad : {"", "C:\\\xff\xfe.dfu", "C:\\J\xc3"}) {
        std::ifstream in;
        HidDfu::openUtf8(in, bad, std::ios::binary);
        check(!in, "empty or malformed UTF-8 refused");
    }

    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
