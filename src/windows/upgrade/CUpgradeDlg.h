// The upgrade check behind the main dialog's Upgrade button (template 104), with its status
// window (template 105) while the page is fetched.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/CStringList.h"
#include "core/upgrade/UpgradePage.h"
#include "platform/net/CHttpFetcher.h"
#include "platform/upgrade/FileSignature.h"
#include "windows/controls/CDialog.h"
#include "windows/upgrade/UpgradeGate.h"

// The status window shown while a page or a download is fetched.
class CUpgradeProgressDlg : public CDialog {
public:
    CUpgradeProgressDlg();
};

// Fetches the upgrade page as text lines; std::nullopt, with *why saying why, when it did not
// arrive whole.
using UpgradePageFetch =
    std::function<std::optional<CStringList>(const std::string& url, std::string* why)>;

class CUpgradeDlg : public CDialog {
public:
    CUpgradeDlg();
    ~CUpgradeDlg() override;

    void SetUpgradeInfo(const std::string& productName, float version, const std::string& url);
    // The fetch the check uses: the HTTP client unless a test sets another.
    void SetPageFetch(UpgradePageFetch fetch);
    // The maker's key that downloads must be signed with: the built-in one unless a test sets
    // another; nothing refuses every upgrade.
    void SetUpgradeKey(std::optional<P256PublicPoint> key) { m_key = key; }
    // The folder whose uninstaller an accepted upgrade runs: the program's own unless a test
    // sets another.
    void SetProgramFolder(std::wstring folder) { m_strProgramFolder = std::move(folder); }
    // How the process ends after the new version was installed (tests watch it instead).
    void SetProcessEnd(std::function<void(int code)> end) { m_endProcess = std::move(end); }
    // The upgrade page's address this build was configured with.
    static std::string UpgradePageUrl();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void FinishCheck();
    // Downloads the setup behind `link` into a folder of its own, checks it (digest, signature,
    // version), runs the old uninstaller and the new setup, and ends the process; returns only
    // when the upgrade did not go on (the user was told).
    void DownloadAndInstall(std::string link);
    void RefuseUpgrade(UpgradeRefusal refusal);

    float m_fVersion = 0.0f;
    std::string m_strUpgradeUrl;
    std::string m_strProductName;
    UpgradePageInfo m_page;
    UpgradePageFetch m_fetch;
    CHttpFetcher m_fetcher;
    std::optional<P256PublicPoint> m_key;
    std::wstring m_strProgramFolder;
    std::function<void(int)> m_endProcess;
    bool m_bChecking = false;
    SYSTEMTIME m_dtLastCheck{};  // wYear 0: no check has run
};
