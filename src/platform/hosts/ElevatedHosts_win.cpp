// The Windows program runs as an administrator (its manifest asks for that), so it writes the
// hosts file itself: there is no helper to go through.
#include "platform/hosts/ElevatedHosts.h"

bool HostsNeedHelper(const std::string&) {
    return false;
}

HostsResult ApplyIntentThroughHelper(const std::string&, HostsIntent,
                                     const std::vector<std::string>&) {
    return {};
}
