// The hosts file on POSIX systems: /etc/hosts, or the file a test or a sandboxed demo names in
// $VANTREL_HOSTS_FILE.
#include "platform/hosts/HostsPath.h"

#include <cstdlib>

#include "platform/files/FileSys.h"
#include "platform/hosts/HelperProtocol.h"

std::string DefaultHostsPath() {
    return kHelperHostsPath;
}

std::string ConfiguredHostsPath() {
    const char* overridden = std::getenv("VANTREL_HOSTS_FILE");
    return overridden != nullptr && *overridden != '\0' ? overridden : DefaultHostsPath();
}

bool IsSystemHostsFile(const std::string& path) {
    return !path.empty() && filesys::Resolve(path) == filesys::Resolve(DefaultHostsPath());
}
