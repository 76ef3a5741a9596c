// The self-check's decisions, the same on every system: which answers count as local, and which
// profiles use DNS over HTTPS. The lookups and the files come from ProtectionCheck_<system>.cpp.
#include "platform/protection/ProtectionCheck.h"

#include <algorithm>
#include <map>

namespace {

struct Expected {
    std::set<std::string> v4, v6;
};

bool AnsweredLocally(const std::string& name, AddressFamily family,
                     const std::set<std::string>& expected) {
    const std::optional<std::set<std::string>> answer = ResolveName(name, family);
    // No answer at all loads no ad; an answer must come from the hosts file.
    if (!answer) return expected.empty();
    return !answer->empty() &&
           std::includes(expected.begin(), expected.end(), answer->begin(), answer->end());
}

}  // namespace

LookupCheck CheckLookups(const std::vector<HostsEntry>& block,
                         const std::vector<HostsEntry>& hosts) {
    std::map<std::string, Expected> expected;
    for (const HostsEntry& entry : hosts) {
        Expected& e = expected[entry.name];
        if (auto v4 = AddressBytes(entry.address, AddressFamily::V4)) e.v4.insert(*v4);
        if (auto v6 = AddressBytes(entry.address, AddressFamily::V6)) e.v6.insert(*v6);
    }
    LookupCheck check;
    std::set<std::string> done;
    for (const HostsEntry& entry : block) {
        if (!done.insert(entry.name).second) continue;
        const Expected& e = expected[entry.name];
        if (!AnsweredLocally(entry.name, AddressFamily::V4, e.v4))
            check.notLocalV4.push_back(entry.name);
        if (!AnsweredLocally(entry.name, AddressFamily::V6, e.v6))
            check.notLocalV6.push_back(entry.name);
    }
    return check;
}

std::vector<std::string> FirefoxDohProfiles(const std::string& home) {
    std::vector<std::string> profiles;
    if (home.empty()) return profiles;
    for (const FirefoxProfile& profile : FirefoxProfiles(home)) {
        // user.js is applied over prefs.js at every start.
        std::optional<int> mode = TrrMode(profile.prefs);
        if (const auto forced = TrrMode(profile.user)) mode = forced;
        if (TrrModeOn(mode)) profiles.push_back(profile.name);
    }
    std::sort(profiles.begin(), profiles.end());
    return profiles;
}
