// Runs under Wine: the engine DLL as the program loads it, on hidapi's Windows backend, with no device.
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "hiddfu/dfusuffix.h"
#include "hiddfu/hiddfuimage.h"
#include "tests/windows/wincheck.h"

using WinCheck::check;

namespace {

constexpr int kVendor = 0x7a7a;
constexpr int kProduct = 0x0101;

int threadCount() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    }
    ::CloseHandle(snapshot);
    return count;
}

// Written with Win32 itself, so that the engine's reading is all that is under test.
void writeFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::vector<std::uint8_t> image(std::uint16_t product) {
    std::vector<std::uint8_t> bytes(3000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    HidDfu::DfuSuffix suffix;
    suffix.vendorId = kVendor;
    suffix.productId = product;
    suffix.bcdDevice = 0x0146;
    suffix.appendTo(bytes);
    return bytes;
}

}  // namespace

int main() {
    const int threadsBefore = threadCount();

    // A program or a vendor build finds the engine by these names, undecorated.
    const HMODULE engine = ::GetModuleHandleW(L"hiddfu.dll");
    check(engine != nullptr, "engine loaded as hiddfu.dll");
    for (const char* name : {"hidDfuConnect", "hidDfuDisconnect", "hidDfuUpgrade", "hidDfuBackup",
                             "hidDfuResetDevice", "hidDfuGetProgress", "hidDfuGetResult", "hidDfuCheckImage"})
        check(engine != nullptr && ::GetProcAddress(engine, name) != nullptr, name);

    std::uint16_t count = 77;
    check(hidDfuConnect(kVendor, kProduct, 1, 0xff00, &count) != 0 && count == 0,
          "connect without a device fails and counts none");
    check(hidDfuConnect(kVendor, kProduct, 1, 0xff00, &count) != 0 && count == 0,
          "connect again, as cleanly");
    check(hidDfuConnect(0, kProduct, 1, 0xff00, &count) != 0, "connect with no vendor refused");

    const std::wstring folder = WinCheck::userFolder(L"engine");
    struct Row {
        const wchar_t* name;
        std::vector<std::uint8_t> bytes;
        bool accepted;
    };
    const std::vector<std::uint8_t> whole = image(kProduct);
    std::vector<std::uint8_t> corrupt = whole;
    corrupt[100] ^= 0x01;
    const Row rows[] = {
        {L"\\whole image.dfu", whole, true},
        {L"\\bad crc.dfu", corrupt, false},
        {L"\\other device.dfu", image(kProduct + 1), false},
        {L"\\suffix only.dfu", std::vector<std::uint8_t>(whole.end() - 16, whole.end()), false},
        {L"\\empty.dfu", {}, false},
    };
    for (const Row& row : rows) {
        const std::wstring file = folder + row.name;
        writeFile(file, row.bytes);
        const std::string path = WinCheck::utf8Of(file);
        const std::string what = WinCheck::utf8Of(row.name + 1);
        check((hidDfuCheckImage(path.c_str(), kVendor, kProduct) == 0) == row.accepted, what.c_str());
        // The program hands over its temporary file's name as Qt spells it, with forward slashes.
        std::string forward = path;
        std::replace(forward.begin(), forward.end(), '\\', '/');
        check((hidDfuCheckImage(forward.c_str(), kVendor, kProduct) == 0) == row.accepted, "forward slashes");
        // Without a connection nothing starts, whatever the image.
        check(hidDfuUpgrade(path.c_str(), 0) != 0, "upgrade without a connection refused");
        ::DeleteFileW(file.c_str());
    }
    check(hidDfuCheckImage(WinCheck::utf8Of(folder + L"\\missing.dfu").c_str(), kVendor, kProduct) != 0,
          "missing image refused");
    check(hidDfuCheckImage("C:\\J\xc3", kVendor, kProduct) != 0, "malformed UTF-8 path refused");
    check(hidDfuCheckImage(nullptr, kVendor, kProduct) != 0, "no path refused");

    const std::wstring backup = folder + L"\\backup.dfu";
    check(hidDfuBackup(WinCheck::utf8Of(backup).c_str(), 0) != 0 &&
              ::GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES,
          "backup without a connection refused, no file left");
    check(hidDfuResetDevice() != 0, "reset without a connection refused");
    check(hidDfuGetResult() == 0 && hidDfuGetProgress() == 0, "no transfer ran");
    check(hidDfuDisconnect() == 0, "disconnect");
    check(hidDfuDisconnect() == 0, "disconnect twice");
    // hidapi's enumeration and the engine leave no thread of theirs behind.
    check(threadCount() == threadsBefore, "no thread left running");

    ::RemoveDirectoryW(folder.c_str());
    return WinCheck::result();
}
