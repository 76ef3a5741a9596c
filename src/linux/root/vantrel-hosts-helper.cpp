// The privileged helper that pkexec runs to add or remove Vantrel's block in /etc/hosts when
// the user may not write it. Nothing it inherits is trusted: the environment is dropped and the
// path is fixed, so no variable can point it at another file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "linux/root/HostsHelper.h"
#include "platform/ProtectionCheck.h"

int main(int argc, char** argv) {
    clearenv();
    umask(022);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int status = RunHostsHelper(args, STDIN_FILENO, kSystemHostsPath);
    // A running name service cache would go on answering from the old file for a while.
    if (status == kHelperOk) InvalidateHostsCache();
    return status;
}
