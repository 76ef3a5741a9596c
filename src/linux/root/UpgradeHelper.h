// The privileged side of an upgrade through the package manager, kept apart from its main() so
// its refusals can be tested without installing anything.
#pragma once

#include <string>
#include <vector>

struct UpgradeHelperSetup {
    // The maker's public key (PEM, ECDSA P-256) that every package must be signed with. Empty:
    // every upgrade is refused.
    std::string strPublicKeyPem;
    // Where the root-owned private copy of the package is made, and where copies left by a
    // helper that did not end normally are removed from.
    std::string strScratchBase = "/var/cache";
    // The environment of dpkg and apt-get (the helper's own is dropped).
    std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                            "DEBIAN_FRONTEND=noninteractive", "LC_ALL=C"};
    // Prints the installed version of a package named by its last argument.
    std::string strDpkgQuery = "/usr/bin/dpkg-query";
    // Installs the package file named by the argument appended to it. Waits a bounded time for
    // another package manager's lock instead of failing at once or waiting for ever.
    std::vector<std::string> installCommand = {"/usr/bin/apt-get",      "install", "-y", "-q", "-o",
                                               "DPkg::Lock::Timeout=60"};
};

// The private copies' folders: "vantrel-upgrade-" and six letters or digits, as mkdtemp makes them.
inline constexpr const char* kScratchPrefix = "vantrel-upgrade-";

// args "vantrel" VERSION, inputFd as UpgradeHelperInputHead describes: removes the private copies
// that earlier runs left behind, copies the package into a folder only root can enter, verifies
// the maker's signature over that copy, checks that it is the package vantrel at VERSION (what the
// authentication prompt named) and newer than the installed one, and then installs that copy;
// apt-get's and dpkg's output goes to a log in that folder, whose end is written to standard error
// when the installation fails. args "--public-key": prints the maker's key this helper holds.
// Returns an UpgradeHelperStatus, one for each reason of a refusal.
int RunUpgradeHelper(const std::vector<std::string>& args, int inputFd,
                     const UpgradeHelperSetup& setup);
