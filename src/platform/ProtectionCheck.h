// The program's check of its own effect: the system resolver's answers for the listed names, the
// Firefox profiles that bypass it, and the name service cache that may hold old answers.
#pragma once

#include <string>
#include <vector>

#include "core/ProtectionNotes.h"

struct LookupCheck {
    std::vector<std::string> notLocalV4, notLocalV6;
};

// Looks up every name of `block` through the system resolver, IPv4 and IPv6 separately, and
// names those answered with any address the hosts file does not give them (`hosts`: all its
// entries), or not answered although the hosts file lists them for that family. Blocks for as
// long as the resolver does: run it off the user-interface thread.
LookupCheck CheckLookups(const std::vector<HostsEntry>& block,
                         const std::vector<HostsEntry>& hosts);

// The Firefox profiles below the home folder whose prefs turn DNS over HTTPS on.
std::vector<std::string> FirefoxDohProfiles(const std::string& home);

// When the name service cache daemon runs, drops its cached host lookups, so the changed hosts
// file is seen at once. Needs root; false when nothing was done.
bool InvalidateHostsCache();
