// What the program knows still lets ads through while the block is in place, and how the line
// below the status says it. Plain C++: the checks themselves live with each platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/browsers/BrowserNames.h"
#include "core/browsers/BrowserSockets.h"

struct HostsEntry {
    std::string address;
    std::string name;
};

// Every "address name..." entry of hosts text, one per name; comments and blank lines skipped.
std::vector<HostsEntry> HostsEntries(std::string_view text);
// The entries between the block's markers.
std::vector<HostsEntry> BlockEntries(std::string_view text);

// The value of network.trr.mode in a Firefox prefs.js or user.js text; the last one counts.
std::optional<int> TrrMode(std::string_view prefs);
// Modes 2 (DNS over HTTPS first) and 3 (only): Firefox reads the hosts file only as it starts.
bool TrrModeOn(std::optional<int> mode);

struct ProtectionFacts {
    std::vector<Browser> restart;  // still running with the lookups from before the change
    bool checking = false;         // the lookups are not done yet
    std::vector<std::string> notLocalV4, notLocalV6;
    // Firefox profiles with DNS over HTTPS on, while a Firefox from before the change runs.
    std::vector<std::string> dohProfiles;
    // The system's resolver cache could not be flushed after the change (Windows: no
    // DnsFlushResolverCache, or it failed): it may answer from before the change for a while.
    bool cacheNotFlushed = false;
    // Why the running browsers were not moved onto the new answers, when some must restart.
    LiveApplyBlock notLive = LiveApplyBlock::None;
};

// The sentence that says why running browsers were not moved onto the new answers; "" for None,
// TurnedOff (the user chose the old way and needs no telling) and NotOnThisSystem.
std::string LiveApplyNote(LiveApplyBlock block);

// One sentence per known leak, most urgent first; none when nothing is known. A browser to restart
// already covers Firefox's DNS over HTTPS.
std::vector<std::string> NotesLines(const ProtectionFacts& facts);
