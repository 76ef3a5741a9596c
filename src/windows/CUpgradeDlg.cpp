// The check: status window, fetch, the page's values, one answer. Fetching pages over the
// network is not part of this build yet: the check then tells the user it could not check.
#include "windows/CUpgradeDlg.h"

#include <cstdio>
#include <utility>

#include "platform/CRegistryStore.h"
#include "platform/WideText_win.h"
#include "windows/MessageBox.h"
#include "windows/resource.h"

namespace {
std::optional<CStringList> NoNetworkYet(const std::string&, std::string* why) {
    if (why != nullptr) *why = "this build of Vantrel cannot reach the upgrade page yet";
    return std::nullopt;
}
}  // namespace

CUpgradeProgressDlg::CUpgradeProgressDlg() : CDialog(IDD_UPGRADE_PROGRESS) {}

CUpgradeDlg::CUpgradeDlg() : CDialog(IDD_UPGRADE), m_fetch(NoNetworkYet) {}

CUpgradeDlg::~CUpgradeDlg() {
    if (m_dtLastCheck.wYear == 0) return;
    // Month, day and year without leading zeros, as "3 9 2006".
    char text[32];
    std::snprintf(text, sizeof text, "%u %u %u", m_dtLastCheck.wMonth, m_dtLastCheck.wDay,
                  m_dtLastCheck.wYear);
    CRegistryStore().WriteValue(m_strProductName, "UpgradeDate", text, HKEY_CURRENT_USER);
}

void CUpgradeDlg::SetUpgradeInfo(const std::string& productName, float version,
                                 const std::string& url) {
    m_strProductName = productName;
    m_fVersion = version;
    m_strUpgradeUrl = url;
}

void CUpgradeDlg::SetPageFetch(UpgradePageFetch fetch) {
    m_fetch = std::move(fetch);
}

std::string CUpgradeDlg::UpgradePageUrl() {
    // A reserved name: an unconfigured build never reaches anybody's server.
    return "https://vantrel.invalid/upgrade.html";
}

BOOL CUpgradeDlg::OnInitDialog() {
    m_bChecking = false;
    ::EnableWindow(GetDlgItem(IDOK), TRUE);
    return TRUE;
}

void CUpgradeDlg::OnOK() {
    // One check per opening; a press that still arrives while one runs is ignored.
    if (m_bChecking || !::IsWindowEnabled(GetDlgItem(IDOK))) return;
    m_bChecking = true;

    CUpgradeProgressDlg progress;
    if (progress.Create(m_hWnd)) {
        ::ShowWindow(progress.GetSafeHwnd(), SW_SHOWNORMAL);
        ::ShowWindow(progress.GetDlgItem(IDC_PROGRESS_TEXT), SW_SHOWNORMAL);
        ::UpdateWindow(progress.GetSafeHwnd());
    }
    std::string why;
    const std::optional<CStringList> lines = m_fetch(m_strUpgradeUrl, &why);
    ParseUpgradePage(lines ? *lines : CStringList{}, m_page);
    ::ShowWindow(progress.GetSafeHwnd(), SW_HIDE);

    const std::wstring product = Utf8ToWide(m_strProductName);
    if (!lines || !m_page.bVersionFound) {
        // Not knowing is not the same as being up to date: the user may try again.
        const std::string reason =
            !lines ? (why.empty() ? std::string("the upgrade page could not be fetched") : why)
                   : std::string("the upgrade page does not say which version is current");
        m_bChecking = false;
        ShowMessage(m_hWnd,
                    product + L" could not check for an upgrade: " + Utf8ToWide(reason) +
                        L".\n\nPlease try again later.",
                    product, MB_OK | MB_ICONWARNING);
        return;
    }
    if (m_page.fNewVersion > m_fVersion) {
        // Downloading and installing come with the next version of this build; until then
        // the user learns of the new version and where to get it.
        ShowMessage(m_hWnd,
                    L"A new upgrade of " + product +
                        L" is available for download.\n\nDescription:\n\n" +
                        Utf8ToWide(m_page.strDescription) + L"\n\nDownload it from:\n" +
                        Utf8ToWide(m_page.strDownloadLink),
                    L"A new upgrade is available.", MB_OK);
    } else {
        char version[32];
        std::snprintf(version, sizeof version, "%.2f", static_cast<double>(m_fVersion));
        ShowMessage(m_hWnd,
                    L"You have the most recent version v" + Utf8ToWide(version) +
                        L".\nNo upgrade is available.",
                    product, MB_OK);
    }
    m_bChecking = false;
    FinishCheck();
}

void CUpgradeDlg::FinishCheck() {
    ::EnableWindow(GetDlgItem(IDOK), FALSE);
    ::SetFocus(GetDlgItem(IDCANCEL));
    ::GetLocalTime(&m_dtLastCheck);
}
