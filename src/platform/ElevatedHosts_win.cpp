// The Windows program runs as an administrator (its manifest asks for that), so it writes the
// hosts file itself: there is no helper to go through.
#include "platform/ElevatedHosts.h"

bool HostsNeedHelper(const std::string&) {
    return false;
}

std::optional<bool> AddBlockThroughHelper(const std::string&, const SettingsSource&, std::string*) {
    return std::nullopt;
}

std::optional<bool> RemoveBlockThroughHelper(const std::string&, std::string*) {
    return std::nullopt;
}

ElevatedToggle ToggleBlockThroughHelper(const std::string&,
                                        const std::optional<std::vector<std::string>>&,
                                        const std::string&) {
    return {};
}
