// The Windows program runs as the user: a press on the system's hosts file goes to the hosts file
// service over its pipe (HostsService_win.h), which builds the block from the installed settings
// file itself. Only "-uninstall", run by the elevated uninstaller, writes the file directly.
#include "platform/hosts/ElevatedHosts.h"

#include "platform/hosts/HostsPath.h"
#include "platform/hosts/HostsService_win.h"

namespace {
bool g_direct = false;
}  // namespace

void WriteHostsDirectly() {
    g_direct = true;
}

bool HostsNeedHelper(const std::string& path) {
    return !g_direct && IsSystemHostsFile(path);
}

HostsResult ApplyIntentThroughHelper(const std::string&, HostsIntent intent,
                                     const std::vector<std::string>&) {
    return AskHostsService(intent == HostsIntent::Hide ? kServiceHide : kServiceShow);
}
