// The checks of a downloaded Vantrel package that the program makes before it asks for a password
// and the privileged upgrade helper makes again as root, on its own copy: the maker's signature
// over the file's bytes, then the package's name, then its version. Also the small pieces both
// sides share to talk to each other and to dpkg. Linux (Debian packages) only.
//
// The signature is checked with libcrypto. The helper links it; the program loads it on first use
// (the library vantrel_package_check_on_demand), so a window that never upgrades never maps it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/upgrade/UpgradeRefusal.h"

inline constexpr const char* kPackageName = "vantrel";
inline constexpr const char* kUpgradeHelperName = "vantrel-upgrade-helper";
// The helper's argument that asks it, without privileges, for the maker's key it holds.
inline constexpr const char* kPublicKeyArgument = "--public-key";

// Exit statuses of the upgrade helper, one per refusal; pkexec's own are in Pkexec_unix.h.
enum UpgradeHelperStatus : int {
    kUpgradeOk = 0,
    kUpgradeBadSignature = 3,   // no maker's key, or no good signature of the maker over the bytes
    kUpgradeNotOurPackage = 4,  // not the package vantrel of the version the prompt named
    kUpgradeNotNewer = 5,       // not newer than the installed vantrel
    kUpgradeInstallFailed = 7,  // apt-get did not install it (or no private copy could be made)
};

struct PackageFields {
    std::string name;
    std::string version;
};

// Runs argv (argv[0] an absolute path) with StartChild, with `environment` (the caller's own
// when empty), standard input from /dev/null and standard error on `errorFd` (inherited when
// -1), and returns its standard output when it ends with status 0.
std::optional<std::string> RunAndRead(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment = {},
                                      int errorFd = -1);

// "Package" and "Version" of a .deb file, read with dpkg-deb; nullopt when it is no package.
// What dpkg says on standard error goes to `errorFd` (inherited when -1), here and below.
std::optional<PackageFields> ReadPackageFields(const std::string& debPath,
                                               const std::vector<std::string>& environment = {},
                                               int errorFd = -1);
// Debian's ordering of versions (dpkg --compare-versions candidate gt current).
bool IsNewerPackageVersion(const std::string& candidate, const std::string& current,
                           const std::vector<std::string>& environment = {}, int errorFd = -1);

// The lower-case hex SHA-256 of a file's content, or "" when it cannot be read.
std::string Sha256HexOfFile(const std::string& path);

// Whether `pem` is a public key the maker can sign with (ECDSA on P-256).
bool IsMakerKey(const std::string& pem);
// True only when `derSignature` (as `openssl dgst -sha256 -sign` writes it) is the maker's
// signature, by the key `pem`, over the file's whole content.
bool SignedByMaker(const std::string& path, const std::string& derSignature,
                   const std::string& pem);

// The checks after the signature's: a package named vantrel (kNotOurPackage), newer than
// `current` (kNotNewer). On success `fields` receives the package's name and version.
UpgradeRefusal CheckPackageFields(const std::string& debPath, const std::string& current,
                                  PackageFields& fields,
                                  const std::vector<std::string>& environment = {},
                                  int errorFd = -1);
// All checks, in this order, each with its own refusal: the maker's signature over the file
// (kBadSignature), then CheckPackageFields. Nothing of a file the maker did not sign is read.
UpgradeRefusal CheckSignedPackage(const std::string& debPath, const std::string& derSignature,
                                  const std::string& makerKeyPem, const std::string& current,
                                  PackageFields& fields,
                                  const std::vector<std::string>& environment = {});

// What the helper reads on its standard input: the maker's signature of the package (DER, in
// lower-case hex) on the first line, then the package itself up to the end of the stream.
std::string UpgradeHelperInputHead(const std::string& derSignature);
