// The Windows part of an upgrade: the window (running as the user) downloads the setup program
// into a fresh folder of the user's and checks it; then one elevated step of this program
// (InstallUpgradeFrom) copies it into a folder that only administrators can change, checks it
// again there, holds it open until it has run, and runs the old version's uninstaller and the
// new setup, each to its end.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/upgrade/UpgradeFlow.h"
#include "platform/upgrade/FileSignature.h"

class CUpgradeFolder;

class SetupInstaller : public UpgradeInstaller {
public:
    // `key`: the maker's key setups must be signed with (nothing refuses every upgrade);
    // `endProcess`: how the process ends afterwards.
    SetupInstaller(std::optional<P256PublicPoint> key, std::function<void(int code)> endProcess);
    ~SetupInstaller() override;

    void SetKey(std::optional<P256PublicPoint> key) { m_key = key; }
    void SetProcessEnd(std::function<void(int code)> end) { m_endProcess = std::move(end); }

    // Without a key it says so once the user has said Yes (Prepare).
    bool CanInstall() override { return true; }
    UpgradeRefusal Prepare() override;
    std::string DownloadPath() const override;
    std::optional<Sha256Bytes> DownloadDigest() override;
    UpgradeRefusal CheckSigned(const std::string& signature, float offered, float running) override;
    std::string InstallStatus() const override { return "Removing old version .."; }
    UpgradeRefusal Install() override;
    // The new setup shows its own windows.
    std::string InstalledMessage() const override { return {}; }
    void Discard() override;
    void EndProcess() override { m_endProcess(0); }

private:
    std::wstring SetupPath() const;

    std::optional<P256PublicPoint> m_key;
    std::function<void(int)> m_endProcess;
    std::unique_ptr<CUpgradeFolder> m_folder;
    HANDLE m_held = INVALID_HANDLE_VALUE;
    Sha256Digest m_digest{};
};

// The elevated step ("vantrel.exe -install-upgrade <download>"): `download` (its signature
// beside it, ".sig" appended) is copied, checked against `key` and `running`, and installed over
// `programFolder`. kNone once the uninstaller and the setup have run.
UpgradeRefusal InstallUpgradeFrom(const std::wstring& download,
                                  const std::optional<P256PublicPoint>& key,
                                  const std::wstring& programFolder, float running);
