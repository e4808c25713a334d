// The program update as one file: this small Win32 program with the installer bundle appended to it
// (Installer.exe, its runtime, data\Meldra.msi). It checks the bundle, unpacks it into a fresh folder of
// its own under the user's temporary folder, runs Installer.exe from there with its own arguments, waits
// for it and removes the folder. No Qt: the Qt DLLs are part of what it carries.
//
// Layout of the file, as make-setup.py writes it:
//   the stub | zero padding | entries | SHA-256 of the entries (32) | entries' length (u64 LE) | magic (8)
//   each entry: name length (u32 LE) | name (UTF-8, '/' between folders) | size (u64 LE) | bytes
// A signature added afterwards goes into the certificate table behind all of that; the padding keeps the
// length a multiple of 8, so that the signing tool appends the table without padding of its own.

#include <windows.h>

#include <bcrypt.h>
#include <sddl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kMagic[8] = {'S', 'N', 'L', 'S', 'E', 'T', 'U', 'P'};
constexpr std::uint64_t kTrailerSize = 32 + 8 + 8;
constexpr std::uint32_t kMaxNameBytes = 1024;
constexpr DWORD kChunk = 1 << 20;

// Exit codes of the stub itself; anything else is the installer's own.
constexpr int kDamaged = 90;       // no bundle, or one that is truncated or altered
constexpr int kUnpackFailed = 91;  // the temporary folder could not be made or filled
constexpr int kStartFailed = 92;   // Installer.exe did not start

class File {
public:
    explicit File(HANDLE handle) : m_handle(handle) {}
    ~File() {
        if (valid()) {
            CloseHandle(m_handle);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    [[nodiscard]] bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    [[nodiscard]] HANDLE get() const { return m_handle; }

    bool seek(std::uint64_t offset) {
        LARGE_INTEGER to;
        to.QuadPart = LONGLONG(offset);
        return SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN) != FALSE;
    }
    bool read(void* buffer, DWORD size) {
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            DWORD got = 0;
            if (!ReadFile(m_handle, out, size, &got, nullptr) || got == 0) {
                return false;
            }
            out += got;
            size -= got;
        }
        return true;
    }
    bool write(const void* buffer, DWORD size) {
        DWORD written = 0;
        return WriteFile(m_handle, buffer, size, &written, nullptr) && written == size;
    }

private:
    HANDLE m_handle;
};

std::uint64_t readU64(const unsigned char* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

std::uint32_t readU32(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

std::wstring ownPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Where the appended data ends: the file's end, or the start of the certificate table of a signed file.
bool dataEnd(File& file, std::uint64_t* end) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        return false;
    }
    *end = std::uint64_t(size.QuadPart);
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS64 nt;
    if (!file.seek(0) || !file.read(&dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !file.seek(std::uint64_t(dos.e_lfanew)) || !file.read(&nt, sizeof(nt)) ||
        nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return false;
    }
    const IMAGE_DATA_DIRECTORY& security = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (security.VirtualAddress != 0 && security.Size != 0) {
        // The table's address is a file offset; it must close the file.
        if (std::uint64_t(security.VirtualAddress) + security.Size != *end) {
            return false;
        }
        *end = security.VirtualAddress;
    }
    return true;
}

struct Bundle {
    std::uint64_t begin = 0;
    std::uint64_t length = 0;
};

// The bundle's place in the file, once its length and its hash are right.
bool findBundle(File& file, Bundle* bundle) {
    std::uint64_t end = 0;
    if (!dataEnd(file, &end) || end < kTrailerSize) {
        return false;
    }
    unsigned char trailer[kTrailerSize];
    if (!file.seek(end - kTrailerSize) || !file.read(trailer, DWORD(kTrailerSize)) ||
        std::memcmp(trailer + 40, kMagic, sizeof(kMagic)) != 0) {
        return false;
    }
    bundle->length = readU64(trailer + 32);
    if (bundle->length > end - kTrailerSize) {
        return false;
    }
    bundle->begin = end - kTrailerSize - bundle->length;

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool same = false;
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        std::vector<unsigned char> chunk(kChunk);
        bool read = file.seek(bundle->begin);
        for (std::uint64_t left = bundle->length; read && left > 0;) {
            const DWORD size = DWORD(left < kChunk ? left : kChunk);
            read =
                file.read(chunk.data(), size) && BCRYPT_SUCCESS(BCryptHashData(hash, chunk.data(), size, 0));
            left -= size;
        }
        unsigned char digest[32];
        same = read && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof(digest), 0)) &&
               std::memcmp(digest, trailer, sizeof(digest)) == 0;
    }
    if (hash) {
        BCryptDestroyHash(hash);
    }
    if (algorithm) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return same;
}

// A relative name of plain components; nothing that could leave the folder or name a device or stream.
bool toRelativePath(const std::string& name, std::wstring* path) {
    if (name.empty() || name.front() == '/' || name.back() == '/' ||
        name.find_first_of(std::string("\\:\0", 3)) != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t stop = name.find('/', start);
        if (stop == std::string::npos) {
            stop = name.size();
        }
        const std::string part = name.substr(start, stop - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = stop + 1;
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    path->assign(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), &(*path)[0], length);
    for (wchar_t& c : *path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return true;
}

bool makeParents(const std::wstring& folder, const std::wstring& relative) {
    for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1)) {
        const std::wstring parent = folder + L'\\' + relative.substr(0, at);
        if (!CreateDirectoryW(parent.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

bool unpack(File& file, const Bundle& bundle, const std::wstring& folder) {
    std::vector<unsigned char> chunk(kChunk);
    std::uint64_t offset = 0;
    if (!file.seek(bundle.begin)) {
        return false;
    }
    while (offset < bundle.length) {
        unsigned char head[8];
        if (bundle.length - offset < 4 || !file.read(head, 4)) {
            return false;
        }
        const std::uint32_t nameBytes = readU32(head);
        offset += 4;
        if (nameBytes > kMaxNameBytes || bundle.length - offset < nameBytes + 8ull) {
            return false;
        }
        std::string name(nameBytes, '\0');
        if (!file.read(&name[0], nameBytes) || !file.read(head, 8)) {
            return false;
        }
        offset += nameBytes + 8ull;
        const std::uint64_t size = readU64(head);
        std::wstring relative;
        if (size > bundle.length - offset || !toRelativePath(name, &relative) ||
            !makeParents(folder, relative)) {
            return false;
        }
        // CREATE_NEW: a name that comes twice is a damaged bundle, never an overwrite.
        File out(CreateFileW((folder + L'\\' + relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.valid()) {
            return false;
        }
        for (std::uint64_t left = size; left > 0;) {
            const DWORD part = DWORD(left < kChunk ? left : kChunk);
            if (!file.read(chunk.data(), part) || !out.write(chunk.data(), part)) {
                return false;
            }
            left -= part;
        }
        offset += size;
    }
    return true;
}

// Full access for the user and the system only, whatever the temporary folder passes on.
std::wstring privateFolderAcl() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::wstring acl;
    wchar_t* sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        acl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + std::wstring(sid) + L")";
        LocalFree(sid);
    }
    CloseHandle(token);
    return acl;
}

// A folder that did not exist before: a name that another process made first is never used.
std::wstring makeFreshFolder() {
    std::wstring temp(MAX_PATH + 1, L'\0');
    const DWORD length = GetTempPathW(DWORD(temp.size()), &temp[0]);
    if (length == 0 || length > temp.size()) {
        return {};
    }
    temp.resize(length);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    const std::wstring acl = privateFolderAcl();
    if (!acl.empty()) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(acl.c_str(), SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, nullptr);
    }
    std::wstring folder;
    for (int attempt = 0; attempt < 16 && folder.empty(); ++attempt) {
        unsigned char random[8];
        if (!BCRYPT_SUCCESS(
                BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            break;
        }
        wchar_t name[32];
        swprintf(name, 32, L"sonella-setup-%02x%02x%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2],
                 random[3], random[4], random[5], random[6], random[7]);
        const std::wstring candidate = temp + name;
        if (CreateDirectoryW(candidate.c_str(), attributes.lpSecurityDescriptor ? &attributes : nullptr)) {
            folder = candidate;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    LocalFree(attributes.lpSecurityDescriptor);
    return folder;
}

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L'\\' + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                removeTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// A file of the finished installer can stay open for a moment (a virus scanner looking at it), so the
// folder is tried again for a few seconds.
void removeFolder(const std::wstring& folder) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        removeTree(folder);
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Sleep(250);
    }
}

// The stub's own arguments as they were written, after its program name.
std::wstring ownArguments() {
    const wchar_t* line = GetCommandLineW();
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') {
            ++line;
        }
        if (*line) {
            ++line;
        }
    } else {
        while (*line && *line != L' ' && *line != L'\t') {
            ++line;
        }
    }
    return line;
}

int runInstaller(const std::wstring& folder) {
    const std::wstring program = folder + L"\\Installer.exe";
    std::wstring command = L"\"" + program + L"\"" + ownArguments();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // The installer's working folder stays the stub's: a program it launches would otherwise hold the
    // temporary folder as its own and keep it from being removed.
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return kStartFailed;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = DWORD(kStartFailed);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring self = ownPath();
    File file(CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    Bundle bundle;
    if (self.empty() || !file.valid() || !findBundle(file, &bundle)) {
        return kDamaged;
    }
    const std::wstring folder = makeFreshFolder();
    if (folder.empty()) {
        return kUnpackFailed;
    }
    int code = kUnpackFailed;
    if (unpack(file, bundle, folder)) {
        code = runInstaller(folder);
    }
    removeFolder(folder);
    return code;
}
