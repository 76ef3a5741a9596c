// The program's check of its own effect: the system resolver's answers for the listed names, the
// Firefox profiles that bypass it, and the resolver cache that may hold old answers.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/protection/ProtectionNotes.h"

struct LookupCheck {
    std::vector<std::string> notLocalV4, notLocalV6;
};

// Looks up every name of `block` through the system resolver, IPv4 and IPv6 separately, and
// names those answered with any address the hosts file does not give them (`hosts`: all its
// entries), or not answered although the hosts file lists them for that family. Blocks for as
// long as the resolver does: run it off the user-interface thread.
LookupCheck CheckLookups(const std::vector<HostsEntry>& block,
                         const std::vector<HostsEntry>& hosts);

// The Firefox profiles below `home` whose prefs turn DNS over HTTPS on, by folder name.
std::vector<std::string> FirefoxDohProfiles(const std::string& home);
// Where FirefoxDohProfiles looks for the current user: $HOME on Linux, the roaming application
// data folder on Windows (as the shell knows it, not %APPDATA%).
std::string FirefoxProfilesHome();

// Makes the system resolver forget its cached answers, so the changed hosts file is seen at once.
// Linux: drops the name service cache daemon's host lookups when it runs (needs root; false when
// nothing was done, which is normal). Windows: flushes the DNS Client cache through
// DnsFlushResolverCache, looked up in dnsapi.dll at run time; false when that function is
// missing or fails, which the notes line tells the user.
bool InvalidateHostsCache();

// The pieces each system provides to the checks above.
enum class AddressFamily { V4, V6 };
// The binary form (4 or 16 bytes) of an address written in that family; nothing otherwise.
std::optional<std::string> AddressBytes(const std::string& text, AddressFamily family);
// The resolver's answers for a name in one family, in binary form; nothing when it has none.
std::optional<std::set<std::string>> ResolveName(const std::string& name, AddressFamily family);

struct FirefoxProfile {
    std::string name;         // the profile's folder name
    std::string prefs, user;  // its prefs.js and user.js ("" when missing)
};
// Every Firefox profile folder below `home` that holds a prefs.js, with both files read.
std::vector<FirefoxProfile> FirefoxProfiles(const std::string& home);
