// Upgrade steps without windows: verification of the download and the two program runs.
#include "linux/net/UpdateInstaller.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QCryptographicHash>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

extern char** environ;

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsHexDigest(const std::string& digest) {
    return digest.size() == 64 && std::all_of(digest.begin(), digest.end(),
                                              [](unsigned char c) { return std::isxdigit(c); });
}

const char* const kManualUpgrade = "\n\nYou can manually upgrade your software by visiting ";
const char* const kManualUpgradeEnd =
    " and clicking Download Evaluation to obtain the latest version.";
}  // namespace

std::string TrimmedLine(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsHttpsUrl(const std::string& url) {
    const std::string trimmed = TrimmedLine(url);
    return Lowered(trimmed.substr(0, 8)) == "https://" && trimmed.size() > 8;
}

std::string Sha256OfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    while (file) {
        file.read(buffer, sizeof buffer);
        const std::streamsize got = file.gcount();
        if (got > 0) hash.addData(QByteArrayView(buffer, static_cast<qsizetype>(got)));
    }
    if (file.bad()) return {};
    return hash.result().toHex().toStdString();
}

UpgradeRefusal CheckBeforeDownload(const std::string& pageUrl, const std::string& link,
                                   const std::string& publishedDigest) {
    if (TrimmedLine(link).empty()) return UpgradeRefusal::kNoLink;
    if (!IsHttpsUrl(pageUrl)) return UpgradeRefusal::kPageNotSecure;
    if (!IsHttpsUrl(link)) return UpgradeRefusal::kLinkNotSecure;
    if (!IsHexDigest(TrimmedLine(publishedDigest))) return UpgradeRefusal::kNoDigest;
    return UpgradeRefusal::kNone;
}

UpgradeRefusal CheckDownload(bool transferSucceeded, const std::string& path,
                             const std::string& publishedDigest) {
    if (!transferSucceeded) return UpgradeRefusal::kDownloadFailed;
    const std::string actual = Sha256OfFile(path);
    if (actual.empty()) return UpgradeRefusal::kDownloadFailed;
    if (actual != Lowered(TrimmedLine(publishedDigest))) return UpgradeRefusal::kDigestMismatch;
    return UpgradeRefusal::kNone;
}

std::string RefusalMessage(UpgradeRefusal refusal, const std::string& downloadPage) {
    const std::string manual = kManualUpgrade + downloadPage + kManualUpgradeEnd;
    std::string reason;
    switch (refusal) {
        case UpgradeRefusal::kNone:
            return {};
        case UpgradeRefusal::kNoLink:
        case UpgradeRefusal::kDownloadFailed:
            return "There was a problem while downloading the update for your software. "
                   "Your current version is still installed." +
                   manual;
        case UpgradeRefusal::kPageNotSecure:
            reason =
                "the upgrade page was not fetched over a secure (https) connection, so it cannot "
                "be trusted.";
            break;
        case UpgradeRefusal::kLinkNotSecure:
            reason =
                "the download link does not use a secure (https) connection, so the download "
                "could be altered on its way.";
            break;
        case UpgradeRefusal::kNoDigest:
            reason =
                "the upgrade page publishes no valid SHA-256 checksum for the download, so the "
                "download cannot be checked.";
            break;
        case UpgradeRefusal::kDigestMismatch:
            reason =
                "the downloaded file does not match the SHA-256 checksum published on the "
                "upgrade page. It may have been damaged or altered, and it has been deleted.";
            break;
        case UpgradeRefusal::kNotOurPackage:
            reason = "the downloaded file is not a Vantrel package, and it has been deleted.";
            break;
        case UpgradeRefusal::kNotNewer:
            reason =
                "the downloaded package is not newer than the version that is installed, and it "
                "has been deleted.";
            break;
        case UpgradeRefusal::kNoMakerKey:
            reason =
                "this copy of Vantrel was built without its maker's key, so it cannot check that "
                "an upgrade comes from the maker and installs none.";
            break;
        case UpgradeRefusal::kNotSignedByMaker:
            reason =
                "the package does not carry a valid signature of Vantrel's maker, or it is not "
                "the newer version that was offered, so it was refused and has been deleted.";
            break;
        case UpgradeRefusal::kNotAuthorized:
            reason =
                "installing it needs an administrator's authorization, which was refused or "
                "cancelled.";
            break;
        case UpgradeRefusal::kInstallFailed:
            reason = "the package manager could not install the new package.";
            break;
    }
    return "The upgrade was not installed: " + reason +
           " Your current version is still installed." + manual;
}

std::string PackageInstalledMessage(const std::string& version) {
    return "Vantrel " + version +
           " has been installed. Vantrel will now close; start it again to use the new version.";
}

int SpawnAndWait(const std::string& program, const std::vector<std::string>& argv) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

bool MakeOwnerExecutable(const std::string& path) {
    return chmod(path.c_str(), S_IRWXU) == 0;
}

void RunUninstallerThenInstaller() {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    if (!error) {
        const std::string uninstaller = (cwd / kUninstallerName).string();
        SpawnAndWait(uninstaller, {uninstaller, kUninstallerArgument});
    }
    SpawnAndWait(std::string("./") + kDownloadFile, {kDownloadFile, ""});
}
