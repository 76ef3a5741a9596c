// The Linux part of an upgrade: a Debian package, checked here as the privileged helper will
// check it again, and handed to that helper through pkexec and the administrator's password.
#pragma once

#include <string>

#include "model/upgrade/UpgradeFlow.h"
#include "platform/upgrade/PackageCheck_unix.h"

class PackageInstaller : public UpgradeInstaller {
public:
    PackageInstaller();

    // The helper beside this program, which also holds the maker's key, and pkexec. Only tests
    // name others.
    void SetPrograms(std::string helper, std::string pkexec) {
        m_strHelper = std::move(helper);
        m_strPkexec = std::move(pkexec);
    }

    bool CanInstall() override;
    UpgradeRefusal Prepare() override;
    std::string DownloadPath() const override;
    std::optional<Sha256Bytes> DownloadDigest() override;
    UpgradeRefusal CheckSigned(const std::string& signature, float offered, float running) override;
    std::string InstallStatus() const override { return "Installing the new version .."; }
    UpgradeRefusal Install() override;
    std::string InstalledMessage() const override;
    void Discard() override;
    void EndProcess() override;

private:
    std::string m_strHelper;
    std::string m_strPkexec;
    // The key the helper holds, asked for when an upgrade is offered.
    std::string m_strMakerKey;
    // A folder of the user's own for the download; empty when none is made.
    std::string m_strFolder;
    std::string m_strSignature;
    PackageFields m_fields;
};
