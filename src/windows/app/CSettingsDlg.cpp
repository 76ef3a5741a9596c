// The settings dialog: the list rules are the core's, the same as on every system.
#include "windows/app/CSettingsDlg.h"

#include <utility>

#include "core/settings/SettingsFile.h"
#include "core/settings/SettingsList.h"
#include "platform/prefs/CRegistryStore.h"
#include "platform/settings/SettingsFileIO.h"
#include "platform/system/WideText_win.h"
#include "windows/controls/MessageBox.h"
#include "windows/resource.h"

namespace {

const char* const kProductKey = "Vantrel";
const char* const kParentKey = "Software";
const char* const kAddressValue = "m_IPAddress";

// The edit control's line ends are CR LF.
std::wstring ToEditText(const std::string& text) {
    std::wstring out;
    for (const wchar_t c : Utf8ToWide(text)) {
        if (c == L'\n') out += L'\r';
        out += c;
    }
    return out;
}

}  // namespace

CSettingsDlg::CSettingsDlg() : CDialog(IDD_SETTINGS) {}

BOOL CSettingsDlg::OnInitDialog() {
    m_btnOK.SubclassDlgItem(IDOK, m_hWnd);
    m_btnCancel.SubclassDlgItem(IDCANCEL, m_hWnd);
    // As the template's field allows: longer text is refused on OK all the same.
    ::SendMessageW(GetDlgItem(IDC_IP_ADDRESS), EM_LIMITTEXT, kMaxAddressLength, 0);
    // Opened by the elevated copy of the program, it is a window of its own: the program's icon
    // in its title bar and on the taskbar.
    if (::GetWindow(m_hWnd, GW_OWNER) == nullptr) {
        for (const auto& [which, metric] :
             {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
            const int size = ::GetSystemMetrics(metric);
            ::SendMessageW(
                m_hWnd, WM_SETICON, which,
                reinterpret_cast<LPARAM>(::LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_APP),
                                                      IMAGE_ICON, size, size, LR_SHARED)));
        }
    }
    LoadSettings();
    UpdateData(false);
    return TRUE;
}

void CSettingsDlg::LoadSettings() {
    // A file that can be neither read nor created leaves the list empty; the dialog still opens.
    const auto lines = ReadSettingsLines(kSettingsFileName);
    m_domains = lines ? DomainListOf(*lines) : std::string();
    // One character is no address; the default stays.
    const std::string stored =
        CRegistryStore().ReadValue(kProductKey, kAddressValue, HKEY_CURRENT_USER, kParentKey);
    if (stored.size() > 1) m_IPAddress = stored;
}

bool CSettingsDlg::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        SetDlgItemText(IDC_DOMAINS, ToEditText(m_domains));
        SetDlgItemText(IDC_IP_ADDRESS, Utf8ToWide(m_IPAddress));
        return true;
    }
    m_domains = WideToUtf8(GetDlgItemText(IDC_DOMAINS));
    m_IPAddress = WideToUtf8(GetDlgItemText(IDC_IP_ADDRESS));
    if (const std::string problem = FindAddressProblem(m_IPAddress); !problem.empty()) {
        Refuse(IDC_IP_ADDRESS, problem, -1);
        return false;
    }
    if (const ListProblem problem = FindListProblem(m_domains, m_IPAddress);
        !problem.text.empty()) {
        Refuse(IDC_DOMAINS, problem.text, problem.line);
        return false;
    }
    return true;
}

void CSettingsDlg::Refuse(int control, const std::string& text, int line) {
    ShowMessage(m_hWnd, Utf8ToWide(text), L"Vantrel", MB_OK | MB_ICONWARNING);
    const HWND edit = GetDlgItem(control);
    ::SetFocus(edit);
    if (line < 0) {
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        return;
    }
    // The line in question selected, so it can be corrected at once.
    const LRESULT start = ::SendMessageW(edit, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
    if (start < 0) return;
    const LRESULT length = ::SendMessageW(edit, EM_LINELENGTH, static_cast<WPARAM>(start), 0);
    ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(start), start + length);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void CSettingsDlg::OnOK() {
    if (!UpdateData(true)) return;
    SaveSettings();
    EndDialog(IDOK);
}

void CSettingsDlg::SaveSettings() const {
    // Replaced as a whole, so an interrupted save never leaves half a list. A file that cannot be
    // written keeps its old lines; the address is remembered all the same.
    WriteSettingsText(SettingsTextFor(m_domains, m_IPAddress), kSettingsFileName);
    CRegistryStore().WriteValue(kProductKey, kAddressValue, m_IPAddress, HKEY_CURRENT_USER);
}
