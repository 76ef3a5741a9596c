// The privileged helper that pkexec runs to install a newer Vantrel package with apt-get. Nothing
// it inherits is trusted: the environment is dropped and every program is named by its path.
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "linux/root/UpgradeHelper.h"

int main(int argc, char** argv) {
    clearenv();
    umask(022);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunUpgradeHelper(args, UpgradeHelperSetup{});
}
