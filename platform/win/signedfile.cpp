#include "platform/win/signedfile.h"

#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <cwchar>
#include <string>

#ifndef MELDRA_WINDOWS_PUBLISHER
#define MELDRA_WINDOWS_PUBLISHER ""
#endif

namespace Platform {

namespace {

constexpr DWORD kThumbprintSize = 32;

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// The publisher as a thumbprint, when it is one: 64 hex digits once blanks and colons are left out.
bool thumbprintOf(const wchar_t* publisher, BYTE (&thumbprint)[kThumbprintSize]) {
    DWORD digits = 0;
    for (const wchar_t* c = publisher; *c != L'\0'; ++c) {
        if (*c == L' ' || *c == L':')
            continue;
        const int value = hexValue(*c);
        if (value < 0 || digits == 2 * kThumbprintSize)
            return false;
        BYTE& byte = thumbprint[digits / 2];
        byte = static_cast<BYTE>(digits % 2 == 0 ? value << 4 : byte | value);
        ++digits;
    }
    return digits == 2 * kThumbprintSize;
}

bool isPublisher(PCCERT_CONTEXT certificate, const wchar_t* publisher) {
    BYTE wanted[kThumbprintSize] = {};
    if (thumbprintOf(publisher, wanted)) {
        BYTE hash[kThumbprintSize] = {};
        DWORD size = sizeof(hash);
        return CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, certificate->pbCertEncoded,
                                     certificate->cbCertEncoded, hash, &size) != FALSE &&
               size == kThumbprintSize && std::memcmp(hash, wanted, kThumbprintSize) == 0;
    }
    // A subject alone names a publisher only as far as the chain's authority vouches for it, which the
    // trust check above has settled; the whole name must match, not just its common name.
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    CERT_NAME_BLOB* subject = &certificate->pCertInfo->Subject;
    const DWORD length = CertNameToStrW(X509_ASN_ENCODING, subject, type, nullptr, 0);
    if (length <= 1)
        return false;
    std::wstring name(length, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, subject, type, name.data(), length);
    return std::wcscmp(name.c_str(), publisher) == 0;
}

// The certificate that signed the file, as the verification just now found it.
PCCERT_CONTEXT signerOf(HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = signer != nullptr ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    return certificate != nullptr ? certificate->pCert : nullptr;
}

}  // namespace

const wchar_t* builtInPublisher() {
    return L"" MELDRA_WINDOWS_PUBLISHER;
}

HANDLE openPinnedFile(const wchar_t* path) {
    if (path == nullptr || *path == L'\0')
        return INVALID_HANDLE_VALUE;
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool hasTrustedSignature(const wchar_t* path, HANDLE file, const wchar_t* publisher) {
    if (path == nullptr || file == INVALID_HANDLE_VALUE || file == nullptr || publisher == nullptr ||
        *publisher == L'\0')
        return false;
    WINTRUST_FILE_INFO file_info{};
    file_info.cbStruct = sizeof(file_info);
    file_info.pcwszFilePath = path;
    file_info.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // Every certificate of the chain but the root, which only the machine's own store vouches for. Whether
    // an unreachable revocation server fails the check is the system's policy, not ours to loosen.
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file_info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    bool ours = false;
    if (status == ERROR_SUCCESS) {
        const PCCERT_CONTEXT signer = signerOf(data.hWVTStateData);
        ours = signer != nullptr && isPublisher(signer, publisher);
    }
    // The state the verify step kept must be released whatever it answered.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return status == ERROR_SUCCESS && ours;
}

}  // namespace Platform
