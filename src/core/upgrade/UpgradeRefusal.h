// Why an upgrade may not go on, the checks made before anything is downloaded, and what the user
// is told. Shared by the Linux and the Windows program; the checks of the downloaded file stay
// with each system's hashing and signature code.
#pragma once

#include <optional>
#include <string>

inline constexpr const char* kDownloadFile = "NewUpdate.exe";
inline constexpr const char* kUninstallerName = "unins000.exe";
inline constexpr const char* kUninstallerArgument = " /SILENT";

// Why an upgrade may not go on. kNone: it may.
enum class UpgradeRefusal {
    kNone,
    kNoLink,            // the page gave no download link
    kPageNotSecure,     // the page did not come over https
    kLinkNotSecure,     // the link is not https
    kNoDigest,          // the page publishes no SHA-256 for the download
    kNoKey,             // (Windows) this build holds no key to check signatures with
    kDownloadFailed,    // the transfer did not deliver a complete file
    kDigestMismatch,    // the file is not the one the page describes
    kBadSignature,      // the maker did not sign this file (another key, or changed since)
    kSignatureMissing,  // (Linux) the server has no signature beside the download
    kSetupNotOffered,   // (Windows) the setup's version resource is not the version offered
    kSetupNotNewer,     // (Windows) the setup is not newer than the program that runs
    kNotOurPackage,     // (Linux) the file is not a Debian package named vantrel (or, to the
                        // installer, not the version the password prompt named)
    kNotNewer,          // (Linux) the package is not newer than the version that is installed
    kNoMakerKey,        // (Linux) this build holds no maker's key to check an upgrade with
    kNotAuthorized,     // the administrator's authentication (Windows: permission) was refused
                        // or cancelled
    kInstallFailed,     // (Linux) the package manager did not install it
};

// Surrounding blanks and line ends removed.
std::string TrimmedLine(const std::string& text);

// True for an absolute https URL (scheme in any letter case); surrounding blanks are ignored.
bool IsHttpsUrl(const std::string& url);

// The link, the page it came from and the page's SHA-256, in that order. Surrounding blanks and
// line ends of each are ignored.
UpgradeRefusal CheckBeforeDownload(const std::string& pageUrl, const std::string& link,
                                   const std::string& publishedDigest);

// A downloaded setup's own version (major and minor of its version resource; nothing when it
// has none) against the version the upgrade page offered and the version that runs. Versions
// compare as the page's version numbers do.
struct SetupVersion {
    unsigned major = 0;
    unsigned minor = 0;
};
UpgradeRefusal CheckSetupVersion(std::optional<SetupVersion> setup, float offered, float running);

// What the user is told; `downloadPage` is where a manual upgrade can be fetched.
std::string RefusalMessage(UpgradeRefusal refusal, const std::string& downloadPage);

// (Linux) Told in place of the question whether to download a newer version, after its
// description, when this build holds no maker's key: no upgrade could be installed.
std::string NoMakerKeyOfferMessage(const std::string& downloadPage);
// (Linux) Told once the package manager has installed `version`.
std::string PackageInstalledMessage(const std::string& version);
