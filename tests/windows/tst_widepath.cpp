// Runs under Wine: the engine's files in a folder whose name Windows' narrow functions cannot spell.
#include <windows.h>

#include <string>
#include <vector>

#include "hiddfu/widepath.h"
#include "tests/windows/wincheck.h"

using WinCheck::check;
using WinCheck::utf8Of;

int main() {
    const std::wstring folder = WinCheck::userFolder(L"widepath");
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
    return WinCheck::result();
}
