// The self-check's system side on Windows: GetAddrInfoW per family, the Firefox profiles below
// the roaming application data folder, and the DNS Client service's cache.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <windows.h>

#include "platform/protection/AddressList.h"
#include "platform/protection/ProtectionCheck.h"
#include "platform/system/WideText_win.h"
// After the browsers' names, which its InternetExplorer class would shadow.
#include <shlobj.h>

namespace {

int FamilyOf(AddressFamily family) {
    return family == AddressFamily::V4 ? AF_INET : AF_INET6;
}

bool WinsockReady() {
    // Started once for the process and left running: other threads may resolve at any time.
    static const bool ready = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

// A small file's bytes; "" when it is missing or cannot be read.
std::string ReadSmallFile(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    // Firefox's prefs are a few hundred kilobytes at most; anything much larger is not one.
    while (data.size() < (64u << 20) && ::ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
           got > 0)
        data.append(buffer, got);
    ::CloseHandle(file);
    return data;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::optional<std::string> AddressBytes(const std::string& text, AddressFamily family) {
    unsigned char buffer[16];
    if (::InetPtonW(FamilyOf(family), Utf8ToWide(text).c_str(), buffer) != 1) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(buffer), family == AddressFamily::V4 ? 4 : 16);
}

std::optional<std::set<std::string>> ResolveName(const std::string& name, AddressFamily family) {
    if (!WinsockReady()) return std::nullopt;
    ADDRINFOW hints{};
    hints.ai_family = FamilyOf(family);
    hints.ai_socktype = SOCK_STREAM;
    // No AI_ADDRCONFIG: the question is what a program asking for this family would get.
    ADDRINFOW* result = nullptr;
    if (::GetAddrInfoW(Utf8ToWide(name).c_str(), nullptr, &hints, &result) != 0)
        return std::nullopt;
    std::set<std::string> addresses = AddressesIn(result);
    ::FreeAddrInfoW(result);
    return addresses;
}

std::vector<FirefoxProfile> FirefoxProfiles(const std::string& home) {
    std::vector<FirefoxProfile> profiles;
    const std::wstring root = Utf8ToWide(home) + L"\\Mozilla\\Firefox\\Profiles\\";
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((root + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return profiles;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == L"." ||
            name == L"..")
            continue;
        const std::wstring folder = root + name + L"\\";
        if (!IsFile(folder + L"prefs.js")) continue;
        profiles.push_back({WideToUtf8(name), ReadSmallFile(folder + L"prefs.js"),
                            ReadSmallFile(folder + L"user.js")});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return profiles;
}

std::string FirefoxProfilesHome() {
    // The user's roaming application data folder, as the shell knows it: not %APPDATA%, which
    // any program of the user can point elsewhere for the next elevated start.
    wchar_t path[MAX_PATH];
    if (::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return {};
    return WideToUtf8(path);
}

bool InvalidateHostsCache() {
    // Not in every Windows' import library, and not documented: looked up where it runs, in the
    // system folder only.
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const HMODULE dnsapi = ::LoadLibraryW((std::wstring(system, length) + L"\\dnsapi.dll").c_str());
    if (dnsapi == nullptr) return false;
    using FlushProc = BOOL(WINAPI*)();
    const FARPROC proc = ::GetProcAddress(dnsapi, "DnsFlushResolverCache");
    // Through the one function type the compiler lets any function pointer become.
    const auto flush = reinterpret_cast<FlushProc>(reinterpret_cast<void (*)()>(proc));
    const bool flushed = flush != nullptr && flush() != FALSE;
    ::FreeLibrary(dnsapi);
    return flushed;
}
