#include "hiddfu/widepath.h"

#include <windows.h>

namespace HidDfu {

std::wstring widePath(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0')
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (length <= 1)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(), length) != length)
        return {};
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

}  // namespace HidDfu
