// Entry point. "-uninstall" is decided here, before any window-system object exists, so it
// works without a display (a package's removal script, a root shell over ssh). This program
// links no Qt, so that path never pays for loading the GUI libraries; everything else is the
// dialog program beside it, which it becomes through exec with the same arguments.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"

namespace {
// Removes the block; 0 when none is left in the hosts file, else 1 and one line on stderr. A
// package's removal script goes on either way, but a person running it learns the truth.
int Uninstall() {
    CHostsFile hosts;
    const bool removed = hosts.RemoveBlock();
    if (removed && !hosts.MayStillHoldBlock()) return 0;
    // Otherwise the file itself says whether a block is left.
    const std::string path = hosts.GetHostsPath();
    if (path.empty()) return 0;
    bool found = false;
    const ReadStatus status = FindBeginMarker(path, &found);
    if (status == ReadStatus::Missing) return 0;
    if (status == ReadStatus::Ok && !found) return 0;
    std::string why = hosts.GetFailure();
    if (status != ReadStatus::Ok) {
        why = HostsLockWasBusy() ? kHostsBusyText : "the file could not be read.";
    } else if (removed) {
        why = "a second block follows the one removed.";
    }
    if (why.empty()) why = "it could not be removed.";
    std::fprintf(stderr, "vantrel: the block is still in %s: %s\n", path.c_str(), why.c_str());
    return 1;
}

// The dialog program's path: the folder of this executable, not of argv[0], so a symbolic link
// or a PATH lookup cannot point it elsewhere.
std::string DialogProgramPath() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string path(self, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "vantrel-dialog";
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "-uninstall") == 0) return Uninstall();
    const std::string dialog = DialogProgramPath();
    if (!dialog.empty()) ::execv(dialog.c_str(), argv);
    std::fprintf(stderr, "vantrel: cannot start %s: %s\n",
                 dialog.empty() ? "the dialog program" : dialog.c_str(), std::strerror(errno));
    return 127;
}
