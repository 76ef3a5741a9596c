// The privileged side of an upgrade through the package manager, kept apart from its main() so
// its refusals can be tested without installing anything.
#pragma once

#include <string>
#include <vector>

struct UpgradeHelperSetup {
    // Where the root-owned private copy of the package is made.
    std::string strScratchBase = "/var/cache";
    // The environment of dpkg and apt-get (the helper's own is dropped).
    std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                            "DEBIAN_FRONTEND=noninteractive", "LC_ALL=C"};
};

// args: the package file and the SHA-256 (hex) that the user's side verified. Copies the file
// into a private folder, checks the copy's digest, that it is a package named vantrel and newer
// than the installed one, then installs the copy with apt-get. Returns an UpgradeHelperStatus.
int RunUpgradeHelper(const std::vector<std::string>& args, const UpgradeHelperSetup& setup);
