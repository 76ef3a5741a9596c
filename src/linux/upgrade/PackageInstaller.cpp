// The package's folder, checks and installation behind the password prompt.
#include "linux/upgrade/PackageInstaller.h"

#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <optional>

#include "core/upgrade/EcdsaSignature.h"
#include "linux/upgrade/NetConfig.h"
#include "linux/upgrade/PackageInstall.h"

namespace fs = std::filesystem;

PackageInstaller::PackageInstaller() : m_strHelper(UpgradeHelperPath()), m_strPkexec(kPkexecPath) {}

bool PackageInstaller::CanInstall() {
    const std::optional<std::string> key = HelperPublicKey(m_strHelper);
    m_strMakerKey = key.value_or(std::string());
    return key.has_value();
}

UpgradeRefusal PackageInstaller::Prepare() {
    if (!IsMakerKey(m_strMakerKey)) return UpgradeRefusal::kNoMakerKey;
    // A folder of the user's own: nobody else can put another file in its place.
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "vantrel-upgrade-XXXXXX").string();
    if (error || !mkdtemp(pattern.data())) return UpgradeRefusal::kDownloadFailed;
    m_strFolder = pattern;
    return UpgradeRefusal::kNone;
}

std::string PackageInstaller::DownloadPath() const {
    return (fs::path(m_strFolder) / "vantrel-upgrade.deb").string();
}

std::optional<Sha256Bytes> PackageInstaller::DownloadDigest() {
    return ParseSha256Hex(Sha256HexOfFile(DownloadPath()));
}

UpgradeRefusal PackageInstaller::CheckSigned(const std::string& signature, float, float) {
    // The helper's own checks, made here first: a package it would refuse is refused before
    // anyone is asked for a password, with its one reason.
    m_strSignature = signature;
    return CheckSignedPackage(DownloadPath(), signature, m_strMakerKey, VANTREL_VERSION, m_fields);
}

UpgradeRefusal PackageInstaller::Install() {
    // The password prompt and apt-get take their time: keep the windows painted meanwhile, with
    // no input reaching them.
    auto install = std::async(std::launch::async, [this] {
        return InstallPackageElevated(m_strPkexec, m_strHelper, DownloadPath(), m_strSignature,
                                      m_fields.version, m_strFolder);
    });
    while (install.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return install.get();
}

std::string PackageInstaller::InstalledMessage() const {
    return PackageInstalledMessage(m_fields.version);
}

void PackageInstaller::Discard() {
    if (m_strFolder.empty()) return;
    std::error_code error;
    fs::remove_all(m_strFolder, error);
    m_strFolder.clear();
}

void PackageInstaller::EndProcess() {
    // The files of this program have been replaced: end as after any upgrade, without the normal
    // shutdown that would record the check's date or run anything else of this program.
    std::fflush(nullptr);
    _exit(0);
}
