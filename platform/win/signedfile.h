#pragma once

#include <windows.h>

// The Win32 half of the pinned-program check, free of Qt so that it runs as it ships in the Windows
// test programs.

namespace Platform {

// Opens an existing file for reading and shares it for reading only: while the handle lives nobody can
// open the file for writing, rename it or delete it. INVALID_HANDLE_VALUE when it cannot be opened.
[[nodiscard]] HANDLE openPinnedFile(const wchar_t* path);

// Whether WinVerifyTrust accepts the file's Authenticode signature and the signing certificate is the
// publisher's. The publisher is the certificate's SHA-256 thumbprint in hex (blanks and colons between
// the digits are ignored), or else its subject as Windows writes it, most specific part first
// ("CN=..., O=..., C=..."). A valid signature by anyone else, or an empty publisher, is refused. The
// signature is read through file, the pinned handle, so the bytes checked are the bytes that will start.
[[nodiscard]] bool hasTrustedSignature(const wchar_t* path, HANDLE file, const wchar_t* publisher);

// The publisher fixed when the program was built (MELDRA_WINDOWS_PUBLISHER); empty when none was.
[[nodiscard]] const wchar_t* builtInPublisher();

}  // namespace Platform
