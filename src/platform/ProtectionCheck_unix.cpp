// The self-check on POSIX: getaddrinfo per family, prefs.js files, nscd.
#include <arpa/inet.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/ProtectionCheck.h"

namespace {

using Address = std::string;  // the binary form, 4 or 16 bytes

std::optional<Address> Parse(const std::string& text, int family) {
    unsigned char buffer[16];
    if (::inet_pton(family, text.c_str(), buffer) != 1) return std::nullopt;
    return Address(reinterpret_cast<const char*>(buffer), family == AF_INET ? 4 : 16);
}

struct Expected {
    std::set<Address> v4, v6;
};

// What the resolver answers for a name in one family; nothing when it has no answer.
std::optional<std::set<Address>> Lookup(const std::string& name, int family) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    // No AI_ADDRCONFIG: the question is what a program asking for this family would get.
    hints.ai_flags = 0;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) return std::nullopt;
    std::set<Address> addresses;
    for (const addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            addresses.emplace(reinterpret_cast<const char*>(&in->sin_addr), 4);
        } else if (ai->ai_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
            addresses.emplace(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
        }
    }
    ::freeaddrinfo(result);
    return addresses;
}

bool AnsweredLocally(const std::string& name, int family, const std::set<Address>& expected) {
    const std::optional<std::set<Address>> answer = Lookup(name, family);
    // No answer at all loads no ad; an answer must come from the hosts file.
    if (!answer) return expected.empty();
    return !answer->empty() &&
           std::includes(expected.begin(), expected.end(), answer->begin(), answer->end());
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

LookupCheck CheckLookups(const std::vector<HostsEntry>& block,
                         const std::vector<HostsEntry>& hosts) {
    std::map<std::string, Expected> expected;
    for (const HostsEntry& entry : hosts) {
        Expected& e = expected[entry.name];
        if (auto v4 = Parse(entry.address, AF_INET)) e.v4.insert(*v4);
        if (auto v6 = Parse(entry.address, AF_INET6)) e.v6.insert(*v6);
    }
    LookupCheck check;
    std::set<std::string> done;
    for (const HostsEntry& entry : block) {
        if (!done.insert(entry.name).second) continue;
        const Expected& e = expected[entry.name];
        if (!AnsweredLocally(entry.name, AF_INET, e.v4)) check.notLocalV4.push_back(entry.name);
        if (!AnsweredLocally(entry.name, AF_INET6, e.v6)) check.notLocalV6.push_back(entry.name);
    }
    return check;
}

std::vector<std::string> FirefoxDohProfiles(const std::string& home) {
    std::vector<std::string> profiles;
    if (home.empty()) return profiles;
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
            // user.js is applied over prefs.js at every start.
            std::optional<int> mode = TrrMode(ReadFile(prefs));
            if (const auto forced = TrrMode(ReadFile(entry.path() / "user.js"))) mode = forced;
            if (TrrModeOn(mode)) profiles.push_back(entry.path().filename().string());
        }
    }
    std::sort(profiles.begin(), profiles.end());
    return profiles;
}

bool InvalidateHostsCache() {
    if (::geteuid() != 0) return false;
    const bool running =
        ::access("/run/nscd/socket", F_OK) == 0 || ::access("/var/run/nscd/socket", F_OK) == 0;
    const char* nscd = IsExecutable("/usr/sbin/nscd") ? "/usr/sbin/nscd" : "/sbin/nscd";
    if (!running || !IsExecutable(nscd)) return false;
    char* argv[] = {const_cast<char*>(nscd), const_cast<char*>("-i"), const_cast<char*>("hosts"),
                    nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, nscd, nullptr, nullptr, argv, envp) != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
