// The privileged side of an upgrade through the package manager, kept apart from its main() so
// its refusals can be tested without installing anything.
#pragma once

#include <string>
#include <vector>

struct UpgradeHelperSetup {
    // The maker's public key (PEM, ECDSA P-256) that every package must be signed with. Empty:
    // every upgrade is refused.
    std::string strPublicKeyPem;
    // Where the root-owned private copy of the package is made.
    std::string strScratchBase = "/var/cache";
    // The environment of dpkg and apt-get (the helper's own is dropped).
    std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                            "DEBIAN_FRONTEND=noninteractive", "LC_ALL=C"};
    // Prints the installed version of a package named by its last argument.
    std::string strDpkgQuery = "/usr/bin/dpkg-query";
    // Installs the package file named by the argument appended to it.
    std::vector<std::string> installCommand = {"/usr/bin/apt-get", "install", "-y", "-q"};
};

// args "vantrel" VERSION, inputFd as UpgradeHelperInputHead describes: copies the package into a
// folder only root can enter, verifies the maker's signature over that copy, checks that it is the
// package vantrel at VERSION (what the authentication prompt named) and newer than the installed
// one, and then installs that copy. args "--can-verify": whether this helper holds a key at all.
// Returns an UpgradeHelperStatus: every refusal is the same kUpgradeRefused.
int RunUpgradeHelper(const std::vector<std::string>& args, int inputFd,
                     const UpgradeHelperSetup& setup);
