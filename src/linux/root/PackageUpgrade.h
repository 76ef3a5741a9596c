// Upgrades of a Linux installation through the package manager: the downloaded file must be a
// newer "vantrel" Debian package, and a privileged helper, started through pkexec, installs it
// only when the maker's signature over the very bytes it installs is good.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/UpgradeRefusal.h"

inline constexpr const char* kPackageName = "vantrel";
inline constexpr const char* kUpgradeHelperName = "vantrel-upgrade-helper";

// Exit statuses of the upgrade helper; pkexec itself ends with 126 when the authentication
// dialog was dismissed, 127 when the user is not authorized (or pkexec failed otherwise).
// Every refusal is the one status kUpgradeRefused, whatever was wrong.
enum UpgradeHelperStatus : int {
    kUpgradeOk = 0,
    kUpgradeRefused = 3,        // not a newer vantrel of the version named, signed by the maker
    kUpgradeInstallFailed = 7,  // apt-get did not install it
};
inline constexpr int kPkexecRefused = 126;
inline constexpr int kPkexecNotAuthorized = 127;

struct PackageFields {
    std::string name;
    std::string version;
};

// Runs argv (argv[0] an absolute path) without a shell, with `environment` (the caller's own
// when empty) and standard input from /dev/null, and returns its standard output when it ends
// with status 0.
std::optional<std::string> RunAndRead(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment = {});
// The exit status of argv, or -1 when it could not be started or did not end normally.
// Standard input is the file `inputPath`.
int RunForStatus(const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment = {},
                 const std::string& inputPath = "/dev/null");

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
// What the helper reads on its standard input: the maker's signature of the package (DER, in
// lower-case hex) on the first line, then the package itself up to the end of the stream.
std::string UpgradeHelperInputHead(const std::string& derSignature);
// Whether the helper holds the maker's key (asked without privileges); a build without one
// installs no upgrade, so none is downloaded.
bool UpgradeHelperCanVerify(const std::string& helper);
// The maker's detached signature of a download, fetched beside it (DER, at most 256 bytes);
// nullopt when the file is missing, empty or larger.
std::optional<std::string> ReadSignatureFile(const std::string& path);
// Runs "pkexec <helper> vantrel <version>" with the signature and the package on its standard
// input (the authentication prompt names the package and version) and waits for it: kNone when
// the new version is installed, otherwise why not. `work` is a private folder of the user's.
UpgradeRefusal InstallPackageElevated(const std::string& helper, const std::string& debPath,
                                      const std::string& signature, const std::string& version,
                                      const std::string& work);
// What a helper or pkexec exit status means for the user.
UpgradeRefusal RefusalForHelperStatus(int status);
