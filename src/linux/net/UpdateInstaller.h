// The steps of an upgrade that need no window: deciding whether a downloaded installer may run,
// and running the old uninstaller and the new installer one after the other.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kDownloadFile = "NewUpdate.exe";
inline constexpr const char* kUninstallerName = "unins000.exe";
inline constexpr const char* kUninstallerArgument = " /SILENT";

// Surrounding blanks and line ends removed.
std::string TrimmedLine(const std::string& text);

// True for an absolute https URL (scheme in any letter case).
bool IsHttpsUrl(const std::string& url);

// The lower-case hex SHA-256 of a file's content, or "" when it cannot be read.
std::string Sha256OfFile(const std::string& path);

// Why an upgrade may not go on. kNone: it may.
enum class UpgradeRefusal {
    kNone,
    kNoLink,            // the page gave no download link
    kPageNotSecure,     // the page did not come over https
    kLinkNotSecure,     // the link is not https
    kNoDigest,          // the page publishes no SHA-256 for the download
    kDownloadFailed,    // the transfer did not deliver a complete file
    kDigestMismatch,    // the file is not the one the page describes
    kNotOurPackage,     // the file is not a Debian package named vantrel
    kNotNewer,          // the package is not newer than the version that runs
    kNoMakerKey,        // this build holds no maker's key to check an upgrade with
    kNotSignedByMaker,  // the installer refused it: no good signature of the maker, or not the
                        // newer vantrel of the version offered
    kNotAuthorized,     // the administrator's authentication was refused or cancelled
    kInstallFailed,     // the package manager did not install it
};

// Checks made before anything is downloaded.
UpgradeRefusal CheckBeforeDownload(const std::string& pageUrl, const std::string& link,
                                   const std::string& publishedDigest);
// Checks made on the downloaded file.
UpgradeRefusal CheckDownload(bool transferSucceeded, const std::string& path,
                             const std::string& publishedDigest);

// What the user is told; `downloadPage` is where a manual upgrade can be fetched.
std::string RefusalMessage(UpgradeRefusal refusal, const std::string& downloadPage);

// What the user is told once the package manager has installed `version`.
std::string PackageInstalledMessage(const std::string& version);

// Starts `program` with `argv` (argv[0] included) and the inherited environment, without a
// shell, and waits until it ends. Its wait status, or -1 when it could not be started.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& argv);

// Gives the downloaded installer execute permission for its owner only.
bool MakeOwnerExecutable(const std::string& path);

// Runs "<cwd>/unins000.exe" " /SILENT" (missing: ignored), then "./NewUpdate.exe" "" , each
// to its end. Results are ignored: the old version may be gone, so there is nothing to return to.
void RunUninstallerThenInstaller();
