// The upgrade check behind the main dialog's Upgrade button (template 104), with its status
// window (template 105) while the page is fetched.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/CStringList.h"
#include "core/UpgradePage.h"
#include "windows/CDialog.h"

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
    // The fetch the check uses (tests, and the HTTP client once this build has one).
    void SetPageFetch(UpgradePageFetch fetch);
    // The upgrade page's address this build was configured with.
    static std::string UpgradePageUrl();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void FinishCheck();

    float m_fVersion = 0.0f;
    std::string m_strUpgradeUrl;
    std::string m_strProductName;
    UpgradePageInfo m_page;
    UpgradePageFetch m_fetch;
    bool m_bChecking = false;
    SYSTEMTIME m_dtLastCheck{};  // wYear 0: no check has run
};
