// The upgrade check behind the main dialog's Upgrade button (template 104), with its status
// window (template 105). The steps and their sentences are the flow's (UpgradeFlow); this dialog
// shows them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/upgrade/HttpUpgradeFetch.h"
#include "model/upgrade/UpgradeFlow.h"
#include "windows/controls/CDialog.h"
#include "windows/upgrade/SetupInstaller.h"
#include "windows/upgrade/UpgradeGate.h"

// The status window shown while a page or a download is fetched.
class CUpgradeProgressDlg : public CDialog {
public:
    CUpgradeProgressDlg();
};

class CUpgradeDlg : public CDialog, private UpgradeView {
public:
    CUpgradeDlg();
    // Records the date of the last check, when there was one in this run.
    ~CUpgradeDlg() override;

    void SetUpgradeInfo(const std::string& productName, float version, const std::string& url) {
        m_flow.SetUpgradeInfo(productName, version, url);
    }
    // The maker's key that downloads must be signed with: the built-in one unless a test sets
    // another; nothing refuses every upgrade.
    void SetUpgradeKey(std::optional<P256PublicPoint> key) { m_installer.SetKey(key); }
    // How the process ends after the new version was installed (tests watch it instead).
    void SetProcessEnd(std::function<void(int code)> end) {
        m_installer.SetProcessEnd(std::move(end));
    }
    // The upgrade page's address this build was configured with.
    static std::string UpgradePageUrl();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    bool ShowMessage(const UpgradeMessage& message) override;
    void ShowProgress(const std::string& title) override;
    void SetProgressText(const std::string& text) override;
    void PaintProgress(const std::string& text) override;
    void CloseProgress() override;
    void ShowCheckState() override;
    void CloseDialog() override;

    HttpUpgradeFetch m_fetch;
    SetupInstaller m_installer;
    UpgradeFlow m_flow;
    std::unique_ptr<CUpgradeProgressDlg> m_progress;
};
