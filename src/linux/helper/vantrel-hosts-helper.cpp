// The privileged helper that pkexec runs to add or remove Vantrel's block in /etc/hosts when
// the user may not write it. Nothing it inherits is trusted: the environment is dropped and the
// path is fixed, so no variable can point it at another file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/HostsHelper.h"
#include "platform/ProtectionCheck.h"
#include "platform/SocketEnding.h"

int main(int argc, char** argv) {
    // Only the calling user's own browsers are ever moved onto the new answers.
    const unsigned caller = CallerUid(std::getenv("PKEXEC_UID"));
    clearenv();
    umask(022);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    bool badReconnect = false;
    const auto peers = TakeReconnectArguments(args, &badReconnect);
    const int status = badReconnect ? RunHostsHelper({}, STDIN_FILENO, kSystemHostsPath)
                                    : RunHostsHelper(args, STDIN_FILENO, kSystemHostsPath);
    // A running name service cache would go on answering from the old file for a while.
    if (status == kHelperOk) InvalidateHostsCache();
    if (status == kHelperOk && peers) MoveBrowsersToNewAnswers(caller, *peers);
    return status;
}
