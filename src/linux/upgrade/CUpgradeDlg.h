// "Check for Upgrade": asks the maker's server for a newer version and offers to install it. The
// steps and their sentences are the flow's (UpgradeFlow); this dialog shows them.
#pragma once

#include <QDialog>
#include <string>
#include <utility>

#include "linux/upgrade/PackageInstaller.h"
#include "model/upgrade/HttpUpgradeFetch.h"
#include "model/upgrade/UpgradeFlow.h"

class CXPButton;
class CUpgradeProgressDlg;

class CUpgradeDlg : public QDialog, private UpgradeView {
    Q_OBJECT

public:
    explicit CUpgradeDlg(QWidget* parent = nullptr);
    // Records the date of the last check, when there was one in this run.
    ~CUpgradeDlg() override;

    // Called before every opening.
    void SetUpgradeInfo(const std::string& productName, float version,
                        const std::string& upgradeUrl) {
        m_flow.SetUpgradeInfo(productName, version, upgradeUrl);
    }
    // The programs an upgrade runs: the privileged helper and pkexec (tests name others).
    void SetUpgradePrograms(std::string helper, std::string pkexec) {
        m_installer.SetPrograms(std::move(helper), std::move(pkexec));
    }
    // Another network than the program's HTTP client (tests).
    void SetFetch(UpgradeFetch& fetch) { m_flow.SetFetch(fetch); }
    void SaveUpgradeDate();

    const UpgradeFlow& Flow() const { return m_flow; }
    // The status window while one is shown (tests look at it from a message hook).
    CUpgradeProgressDlg* ProgressWindow() const { return m_pProgress; }

    // The upgrade page: the address set when the program was built.
    static std::string UpgradePageUrl();

public slots:
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool ShowMessage(const UpgradeMessage& message) override;
    void ShowProgress(const std::string& title) override;
    void SetProgressText(const std::string& text) override;
    void PaintProgress(const std::string& text) override;
    void CloseProgress() override;
    void ShowCheckState() override;
    void CloseDialog() override;

    HttpUpgradeFetch m_fetch;
    PackageInstaller m_installer;
    UpgradeFlow m_flow;
    CXPButton* m_btnOK = nullptr;
    CXPButton* m_btnClose = nullptr;
    CUpgradeProgressDlg* m_pProgress = nullptr;
};
