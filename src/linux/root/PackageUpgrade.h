// Upgrades of a Linux installation through the package manager: the downloaded file must be a
// newer "vantrel" Debian package, and a privileged helper, started through pkexec, checks the
// very file it installs again before apt-get installs it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "linux/net/UpdateInstaller.h"

inline constexpr const char* kPackageName = "vantrel";
inline constexpr const char* kUpgradeHelperName = "vantrel-upgrade-helper";

// Exit statuses of the upgrade helper; pkexec itself ends with 126 when the authentication
// dialog was dismissed, 127 when the user is not authorized (or pkexec failed otherwise).
enum UpgradeHelperStatus : int {
    kUpgradeOk = 0,
    kUpgradeUsage = 2,          // wrong arguments
    kUpgradeUnreadable = 3,     // the file could not be read or copied
    kUpgradeWrongDigest = 4,    // the file is not the one the user's side checked
    kUpgradeNotVantrel = 5,     // not a Debian package named vantrel
    kUpgradeNotNewer = 6,       // not newer than the installed package, or none is installed
    kUpgradeInstallFailed = 7,  // apt-get did not install it
};
inline constexpr int kPkexecRefused = 126;
inline constexpr int kPkexecNotAuthorized = 127;

struct PackageFields {
    std::string name;
    std::string version;
};

// Runs argv (argv[0] an absolute path) without a shell, with `environment` (the caller's own
// when empty), and returns its standard output when it ends with status 0.
std::optional<std::string> RunAndRead(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment = {});
// The exit status of argv, or -1 when it could not be started or did not end normally.
int RunForStatus(const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment = {});

// "Package" and "Version" of a .deb file, read with dpkg-deb; nullopt when it is no package.
std::optional<PackageFields> ReadPackageFields(const std::string& debPath,
                                               const std::vector<std::string>& environment = {});
// Debian's ordering of versions (dpkg --compare-versions candidate gt current).
bool IsNewerPackageVersion(const std::string& candidate, const std::string& current,
                           const std::vector<std::string>& environment = {});

// The user's side of the checks on a downloaded package: named vantrel, newer than
// `ownVersion`. On success `version` receives the package's version.
UpgradeRefusal CheckPackage(const std::string& debPath, const std::string& ownVersion,
                            std::string& version);

// The helper installed beside this program.
std::string UpgradeHelperPath();
// Runs "pkexec <helper> <debPath> <digest>" and waits for it: kNone when the new version is
// installed, otherwise why not.
UpgradeRefusal InstallPackageElevated(const std::string& helper, const std::string& debPath,
                                      const std::string& digest);
// What a helper or pkexec exit status means for the user.
UpgradeRefusal RefusalForHelperStatus(int status);
