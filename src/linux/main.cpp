// Entry point. "-uninstall" is decided here, before any window-system object exists, so it
// works without a display (a package's removal script, a root shell over ssh). This program
// links no Qt, so that path never pays for loading the GUI libraries; everything else is the
// dialog program beside it, which it becomes through exec with the same arguments.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/hosts/Uninstall.h"

namespace {
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
    if (argc >= 2 && std::strcmp(argv[1], "-uninstall") == 0) {
        const UninstallResult result = RunUninstall();
        if (!result.error.empty()) std::fprintf(stderr, "%s\n", result.error.c_str());
        return result.status;
    }
    const std::string dialog = DialogProgramPath();
    if (!dialog.empty()) ::execv(dialog.c_str(), argv);
    std::fprintf(stderr, "vantrel: cannot start %s: %s\n",
                 dialog.empty() ? "the dialog program" : dialog.c_str(), std::strerror(errno));
    return 127;
}
