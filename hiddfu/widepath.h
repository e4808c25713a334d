#pragma once

#include <fstream>
#include <string>

namespace HidDfu {

#ifdef _WIN32
// The UTF-8 path as UTF-16; empty when it is empty or not valid UTF-8.
std::wstring widePath(const char* utf8);
#endif

// Paths reach the engine as UTF-8. Windows' narrow file functions would read them in the ANSI code page,
// so a folder with a letter outside it (a user's name in the temporary folder) could not be opened there.
template <typename Stream>
void openUtf8(Stream& stream, const char* path, std::ios::openmode mode) {
#ifdef _WIN32
    const std::wstring wide = widePath(path);
    if (wide.empty()) {
        stream.setstate(std::ios::failbit);
        return;
    }
    stream.open(wide.c_str(), mode);
#else
    stream.open(path, mode);
#endif
}

}  // namespace HidDfu
