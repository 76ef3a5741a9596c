// "Check for Upgrade": asks the maker's server for a newer version and offers to install it.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <string>
#include <utility>
#include <vector>

#include "core/upgrade/UpgradePage.h"
#include "core/upgrade/UpgradeRefusal.h"
#include "platform/net/CHttpFetcher.h"

class CXPButton;
class CUpgradeProgressDlg;

class CUpgradeDlg : public QDialog {
    Q_OBJECT

public:
    explicit CUpgradeDlg(QWidget* parent = nullptr);
    // Records the date of the last check, when there was one in this run.
    ~CUpgradeDlg() override;

    // Called before every opening.
    void SetUpgradeInfo(const std::string& productName, float version,
                        const std::string& upgradeUrl);

    // The programs an upgrade runs: the privileged helper beside this program, which also holds
    // the maker's key, and pkexec. Only tests name others.
    void SetUpgradePrograms(std::string helper, std::string pkexec) {
        m_strHelper = std::move(helper);
        m_strPkexec = std::move(pkexec);
    }

    void ParseUpgradePage(const CStringList& lines);
    // Downloads the package and its signature, checks both, and hands the package to the helper
    // behind the administrator's password. Returns only when the upgrade could not go ahead; on
    // success the process ends inside.
    void DownloadAndInstall(std::string link);
    void SaveUpgradeDate();

    const UpgradePageInfo& PageInfo() const { return m_page; }
    QDateTime LastCheck() const { return m_dtLastCheck; }
    bool IsChecking() const { return m_bChecking; }
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
    void OnOK();
    void OnCancel();
    CUpgradeProgressDlg* ShowProgressWindow(const QString& title);
    void CloseProgressWindow();
    void FinishCheck();
    void RefuseUpgrade(const std::string& message, bool warning);
    // Why the download beside the package did not yield a signature, or kNone with it in hand.
    UpgradeRefusal FetchSignature(const std::string& link, const std::string& path,
                                  std::string& signature);

    float m_fVersion = 0.0f;
    std::string m_strUpgradeUrl;
    std::string m_strProductName;
    UpgradePageInfo m_page;
    CHttpFetcher m_fetcher;
    QDateTime m_dtLastCheck;

    bool m_bChecking = false;
    std::string m_strHelper;
    std::string m_strPkexec;
    // The key the helper holds, asked for when an upgrade is found.
    std::string m_strMakerKey;
    CXPButton* m_btnOK = nullptr;
    CXPButton* m_btnClose = nullptr;
    CUpgradeProgressDlg* m_pProgress = nullptr;
};
