// The privileged helper that pkexec runs to install a newer Vantrel package with apt-get. Nothing
// it inherits is trusted: the caller's session, signals, limits and files are left behind, the
// environment is dropped, every program is named by its path, and the package comes on standard
// input, checked against the maker's key built into this program.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "linux/root/RootProcess.h"
#include "linux/root/UpgradeHelper.h"

// Generated at configure time from VANTREL_UPGRADE_PUBKEY; empty without one.
extern const char kMakerPublicKeyPem[];

int main(int argc, char** argv) {
    LeaveCallerProcessState();
    clearenv();
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    UpgradeHelperSetup setup;
    setup.strPublicKeyPem = kMakerPublicKeyPem;
    return RunUpgradeHelper(args, STDIN_FILENO, setup);
}
