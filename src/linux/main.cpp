// Entry point. "-uninstall" is decided here, before any window-system object exists, so it
// works without a display (a package's removal script, a root shell over ssh).
#include <cstring>

#include "linux/app/CVantrelApp.h"
#include "platform/CHostsFile.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "-uninstall") == 0) {
        CHostsFile hosts;
        hosts.RemoveBlock();
        return 0;
    }
    CVantrelApp app(argc, argv);
    return app.Run();
}
