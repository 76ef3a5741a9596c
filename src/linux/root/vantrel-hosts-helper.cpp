// The privileged helper that pkexec runs to hide or show ads through Vantrel's block in /etc/hosts
// when the user may not write it. Nothing it inherits is trusted: the environment is dropped and
// the paths are fixed, so no variable can point it at another file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "linux/root/HostsHelper.h"
#include "linux/root/RootProcess.h"
#include "platform/browsers/SocketEnding.h"
#include "platform/protection/ProtectionCheck.h"

int main(int argc, char** argv) {
    // Before anything else: no terminal may stop it while it holds the lock, no reader that went
    // away may end it halfway, and no limit of the caller's may cut its writes short.
    LeaveCallerProcessState();
    // Only the calling user's own browsers are ever moved onto the new answers. PKEXEC_UID is the
    // one variable read: pkexec builds the helper's environment anew and sets it to the real user
    // who ran pkexec, whatever that user's own environment held; only root can start the helper
    // any other way, and a root caller gains nothing by naming another user. It selects whose
    // sockets may be ended, never a file or a path.
    const unsigned caller = CallerUid(std::getenv("PKEXEC_UID"));
    clearenv();
    umask(022);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    bool badReconnect = false;
    const auto peers = TakeReconnectArguments(args, &badReconnect);
    std::string report;
    const int status =
        badReconnect
            ? RunHostsHelper({}, STDIN_FILENO, kHelperHostsPath, kApprovedBlockPath)
            : RunHostsHelper(args, STDIN_FILENO, kHelperHostsPath, kApprovedBlockPath, &report);
    // The state the pass left goes to the program first; nothing started after it keeps its
    // stdout.
    if (!report.empty()) {
        std::fputs(report.c_str(), stdout);
        std::fflush(stdout);
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    // A running name service cache would go on answering from the old file for a while.
    if (status == kHelperOk) InvalidateHostsCache();
    if (status == kHelperOk && peers) MoveBrowsersToNewAnswers(caller, *peers);
    return status;
}
