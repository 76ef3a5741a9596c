// What the child processes of the kill and concurrency cases do, the same on every system (a
// forked child on POSIX, hosts_toggler.exe on Windows).
#pragma once

#include <string>
#include <vector>

#include "core/hosts/HostsText.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"

namespace children {

inline const std::vector<std::string> kLoopLines = {"0.0.0.0 a.example", "0.0.0.0 b.example", ""};

// Adds and removes a block over and over, until killed.
[[noreturn]] inline void AddAndRemoveForever(const std::string& hosts) {
    for (;;) {
        AddBlockAt(hosts, kLoopLines);
        RemoveBlockAt(hosts);
    }
}

// Presses the toggle count times, in the working folder, asking Hide and Show in turn (Hide
// first), as a window whose caption went stale would; false when a press failed, ended in any
// state but the one it asked for, or the file ever held two blocks.
inline bool PressInTurns(int count) {
    for (int i = 0; i < count; ++i) {
        const bool hide = i % 2 == 0;
        CHostsFile hosts;
        const HostsResult result = hosts.ApplyIntent(hide ? HostsIntent::Hide : HostsIntent::Show);
        if (result.hidden != hide || !result.sentence.empty()) return false;
        const std::string text = hosts.ReadHostsFile();
        const std::size_t first = text.find(kBeginMarker);
        if (first != std::string::npos && text.find(kBeginMarker, first + 1) != std::string::npos)
            return false;
    }
    return true;
}

// Appends a numbered line per locked edit, as another careful program would.
inline bool AppendNumberedLines(const std::string& hosts, int count) {
    for (int i = 0; i < count; ++i) {
        const HostsResult result = EditHostsFile(hosts, [i](std::string& text) {
            if (!text.empty() && text.back() != '\n') text += '\n';
            text += "10.2.0.1 appended" + std::to_string(i) + "\n";
            return true;
        });
        if (result.outcome != HostsOutcome::Written) return false;
    }
    return true;
}

}  // namespace children
