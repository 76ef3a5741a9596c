// Entry point. "-uninstall" is decided here, before any window-system object exists, so it
// works without a display (a package's removal script, a root shell over ssh).
#include <cstdio>
#include <cstring>

#include "core/HostsText.h"
#include "linux/app/CVantrelApp.h"
#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"

namespace {
// Removes the block; 0 when none is left in the hosts file, else 1 and one line on stderr. A
// package's removal script goes on either way, but a person running it learns the truth.
int Uninstall() {
    CHostsFile hosts;
    hosts.RemoveBlock();
    const std::string path = hosts.GetHostsPath();
    if (path.empty()) return 0;
    const HostsRead read = ReadHostsText(path);
    if (read.status == ReadStatus::Missing) return 0;
    if (read.status == ReadStatus::Ok && read.text.find(kBeginMarker) == std::string::npos)
        return 0;
    std::string why = hosts.GetFailure();
    if (read.status != ReadStatus::Ok) why = "the file could not be read.";
    if (why.empty()) why = "it could not be removed.";
    std::fprintf(stderr, "vantrel: the block is still in %s: %s\n", path.c_str(), why.c_str());
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "-uninstall") == 0) return Uninstall();
    CVantrelApp app(argc, argv);
    return app.Run();
}
