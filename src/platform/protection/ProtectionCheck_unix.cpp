// The self-check's system side on POSIX: getaddrinfo per family, prefs.js files, nscd.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/protection/AddressList.h"
#include "platform/protection/ProtectionCheck.h"
#include "platform/system/Spawn_unix.h"

namespace {

int FamilyOf(AddressFamily family) {
    return family == AddressFamily::V4 ? AF_INET : AF_INET6;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool IsExecutable(const char* path) {
    return ::access(path, X_OK) == 0;
}

}  // namespace

std::optional<std::string> AddressBytes(const std::string& text, AddressFamily family) {
    unsigned char buffer[16];
    if (::inet_pton(FamilyOf(family), text.c_str(), buffer) != 1) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(buffer), family == AddressFamily::V4 ? 4 : 16);
}

std::optional<std::set<std::string>> ResolveName(const std::string& name, AddressFamily family) {
    addrinfo hints{};
    hints.ai_family = FamilyOf(family);
    hints.ai_socktype = SOCK_STREAM;
    // No AI_ADDRCONFIG: the question is what a program asking for this family would get.
    hints.ai_flags = 0;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) return std::nullopt;
    std::set<std::string> addresses = AddressesIn(result);
    ::freeaddrinfo(result);
    return addresses;
}

std::vector<FirefoxProfile> FirefoxProfiles(const std::string& home) {
    std::vector<FirefoxProfile> profiles;
    const std::filesystem::path base(home);
    // Debian's firefox and firefox-esr, the snap and the flatpak.
    const std::filesystem::path roots[] = {base / ".mozilla/firefox", base / ".mozilla/firefox-esr",
                                           base / "snap/firefox/common/.mozilla/firefox",
                                           base / ".var/app/org.mozilla.firefox/.mozilla/firefox"};
    for (const auto& root : roots) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
            const std::filesystem::path prefs = entry.path() / "prefs.js";
            if (!std::filesystem::exists(prefs, error)) continue;
            profiles.push_back({entry.path().filename().string(), ReadFile(prefs),
                                ReadFile(entry.path() / "user.js")});
        }
    }
    return profiles;
}

std::string FirefoxProfilesHome() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

bool InvalidateHostsCache() {
    if (::geteuid() != 0) return false;
    const bool running =
        ::access("/run/nscd/socket", F_OK) == 0 || ::access("/var/run/nscd/socket", F_OK) == 0;
    const char* nscd = IsExecutable("/usr/sbin/nscd") ? "/usr/sbin/nscd" : "/sbin/nscd";
    if (!running || !IsExecutable(nscd)) return false;
    ChildSetup setup;
    setup.argv = {nscd, "-i", "hosts"};
    setup.environment.emplace();  // none: it runs as root for the helper
    return RunChild(setup) == 0;
}
