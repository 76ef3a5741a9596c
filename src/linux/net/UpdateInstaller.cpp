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
std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}
}  // namespace

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

UpgradeRefusal CheckDownload(bool transferSucceeded, const std::string& path,
                             const std::string& publishedDigest) {
    if (!transferSucceeded) return UpgradeRefusal::kDownloadFailed;
    const std::string actual = Sha256OfFile(path);
    if (actual.empty()) return UpgradeRefusal::kDownloadFailed;
    if (actual != Lowered(TrimmedLine(publishedDigest))) return UpgradeRefusal::kDigestMismatch;
    return UpgradeRefusal::kNone;
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
