// Handing a checked package to the privileged upgrade helper.
#include "linux/upgrade/PackageInstall.h"

#include <filesystem>
#include <fstream>

#include "platform/system/Spawn_unix.h"
#include "platform/upgrade/PackageCheck_unix.h"

std::string UpgradeHelperPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return (self.parent_path() / kUpgradeHelperName).string();
}

std::optional<std::string> HelperPublicKey(const std::string& helper) {
    if (helper.empty()) return std::nullopt;
    std::optional<std::string> key = RunAndRead({helper, kPublicKeyArgument});
    if (!key || !IsMakerKey(*key)) return std::nullopt;
    return key;
}

UpgradeRefusal RefusalForHelperStatus(int status) {
    switch (status) {
        case kUpgradeOk:
            return UpgradeRefusal::kNone;
        case kPkexecDismissed:
        case kPkexecNotAuthorized:
            return UpgradeRefusal::kNotAuthorized;
        case kUpgradeBadSignature:
            return UpgradeRefusal::kBadSignature;
        case kUpgradeNotOurPackage:
            return UpgradeRefusal::kNotOurPackage;
        case kUpgradeNotNewer:
            return UpgradeRefusal::kNotNewer;
        default:
            return UpgradeRefusal::kInstallFailed;
    }
}

UpgradeRefusal InstallPackageElevated(const std::string& pkexec, const std::string& helper,
                                      const std::string& debPath, const std::string& signature,
                                      const std::string& version, const std::string& work) {
    // The helper reads one stream: the signature's line, then the package. It opens no path of
    // ours, so it is given an open file rather than a name.
    const std::string input = (std::filesystem::path(work) / "upgrade-input").string();
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        std::ifstream package(debPath, std::ios::binary);
        out << UpgradeHelperInputHead(signature) << package.rdbuf();
        out.flush();
        if (!package || !out) return UpgradeRefusal::kDownloadFailed;
    }
    // pkexec asks for the password through the desktop's polkit agent; the prompt shows the
    // command line, which names the package and the version the helper insists on.
    ChildSetup setup;
    setup.argv = {pkexec, helper, kPackageName, version};
    setup.inputPath = input;
    const int status = RunChild(setup);
    std::error_code error;
    std::filesystem::remove(input, error);
    return RefusalForHelperStatus(status);
}
