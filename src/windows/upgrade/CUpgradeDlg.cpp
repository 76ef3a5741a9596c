// The upgrade dialog and its status window, and what the flow shows through them.
#include "windows/upgrade/CUpgradeDlg.h"

#include "platform/prefs/CRegistryStore.h"
#include "platform/system/WideText_win.h"
#include "windows/controls/MessageBox.h"
#include "windows/resource.h"
#include "windows/upgrade/NetConfig.h"

CUpgradeProgressDlg::CUpgradeProgressDlg() : CDialog(IDD_UPGRADE_PROGRESS) {}

CUpgradeDlg::CUpgradeDlg()
    : CDialog(IDD_UPGRADE),
      m_installer(BuiltInUpgradeKey(),
                  [](int code) {
                      // The old version is gone: nothing else of this program may run.
                      ::ExitProcess(static_cast<UINT>(code));
                  }),
      m_flow(*this, m_fetch, m_installer, VANTREL_DOWNLOAD_PAGE) {}

CUpgradeDlg::~CUpgradeDlg() {
    const std::string text = m_flow.UpgradeDateText();
    if (!text.empty())
        CRegistryStore().WriteValue(m_flow.ProductName(), "UpgradeDate", text, HKEY_CURRENT_USER);
}

std::string CUpgradeDlg::UpgradePageUrl() {
    // Fixed when the program is built (by default a reserved name that no server answers to).
    return VANTREL_UPGRADE_URL;
}

BOOL CUpgradeDlg::OnInitDialog() {
    m_flow.Open();
    ShowCheckState();
    return TRUE;
}

void CUpgradeDlg::OnOK() {
    m_flow.Check();
}

bool CUpgradeDlg::ShowMessage(const UpgradeMessage& message) {
    static const UINT kIcons[] = {0, MB_ICONINFORMATION, MB_ICONWARNING};
    const UINT flags = message.yesNo ? MB_YESNO : MB_OK | kIcons[static_cast<int>(message.icon)];
    return ::ShowMessage(m_hWnd, Utf8ToWide(message.text), Utf8ToWide(message.caption), flags) ==
           IDYES;
}

void CUpgradeDlg::ShowProgress(const std::string& title) {
    CloseProgress();
    m_progress = std::make_unique<CUpgradeProgressDlg>();
    if (!m_progress->Create(m_hWnd)) return;
    const HWND window = m_progress->GetSafeHwnd();
    if (!title.empty()) ::SetWindowTextW(window, Utf8ToWide(title).c_str());
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::ShowWindow(m_progress->GetDlgItem(IDC_PROGRESS_TEXT), SW_SHOWNORMAL);
    ::UpdateWindow(window);
}

void CUpgradeDlg::SetProgressText(const std::string& text) {
    if (m_progress) m_progress->SetDlgItemText(IDC_PROGRESS_TEXT, Utf8ToWide(text));
}

void CUpgradeDlg::PaintProgress(const std::string& text) {
    SetProgressText(text);
    // Nothing is dispatched while the caller blocks: the text must be on the screen first.
    if (m_progress)
        ::RedrawWindow(m_progress->GetSafeHwnd(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CUpgradeDlg::CloseProgress() {
    if (!m_progress) return;
    ::ShowWindow(m_progress->GetSafeHwnd(), SW_HIDE);
    m_progress.reset();
}

void CUpgradeDlg::ShowCheckState() {
    // After a check OK stays off until the next opening; during one the buttons stay live and a
    // second press is ignored.
    ::EnableWindow(GetDlgItem(IDOK), m_flow.IsChecked() ? FALSE : TRUE);
    if (m_flow.IsChecked()) ::SetFocus(GetDlgItem(IDCANCEL));
}

void CUpgradeDlg::CloseDialog() {
    EndDialog(IDCANCEL);
}
