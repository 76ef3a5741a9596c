// The main dialog: the template's controls, the status display and the toggle.
#include "windows/app/CVantrelDlg.h"

#include <thread>

#include "platform/system/Elevation_win.h"
#include "platform/system/WideText_win.h"
#include "windows/app/CAboutDlg.h"
#include "windows/app/CSplashDlg.h"
#include "windows/app/ModelHost.h"
#include "windows/app/ProgramFolder.h"
#include "windows/controls/MessageBox.h"
#include "windows/resource.h"
#include "windows/upgrade/UpgradeGate.h"

namespace {

const wchar_t kProduct[] = L"Vantrel";
// Posted at the end of the initialisation: the splash opens over the dialog once it shows.
constexpr UINT kShowSplash = WM_APP + 1;
// The timed Shows in the system menu, after kTimedShowChoices (multiples of 16, as system
// commands must be).
constexpr UINT kIdmTimedShow = 0x0020;

// Dialog units to this dialog's pixels.
RECT DialogRect(HWND dialog, int x, int y, int w, int h) {
    RECT r{x, y, x + w, y + h};
    ::MapDialogRect(dialog, &r);
    return r;
}

void Place(HWND dialog, HWND control, int x, int y, int w, int h) {
    const RECT r = DialogRect(dialog, x, y, w, h);
    ::SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

HICON LoadIconOfSize(int id, int cx, int cy) {
    return static_cast<HICON>(::LoadImageW(CDialog::ResourceModule(), MAKEINTRESOURCEW(id),
                                           IMAGE_ICON, cx, cy, LR_SHARED));
}

// The height `text` takes in `label`'s width, wrapped at words.
int TextHeight(HWND label, const std::wstring& text) {
    RECT r{};
    ::GetClientRect(label, &r);
    const HDC dc = ::GetDC(label);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    return r.bottom - r.top;
}

}  // namespace

CVantrelDlg::CVantrelDlg(CModelHost& host)
    : CDialog(IDD_VANTREL_DIALOG),
      m_hIcon(
          LoadIconOfSize(IDI_APP, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON))),
      m_hSmallIcon(LoadIconOfSize(IDI_APP, ::GetSystemMetrics(SM_CXSMICON),
                                  ::GetSystemMetrics(SM_CYSMICON))),
      m_host(&host) {}

CVantrelDlg::CVantrelDlg() : CVantrelDlg(*new CModelHost()) {
    m_ownHost.reset(m_host);
    m_host->SetNotify([this](const Notice& notice) { ShowNotice(notice); });
    m_host->SetPromptOwner([this] { return m_hWnd; });
}

CVantrelDlg::~CVantrelDlg() {
    // A modeless window still open: the model must not draw into it once this object is gone.
    if (m_view) m_host->Model().RemoveView(m_view);
    m_view = 0;
}

MainModel& CVantrelDlg::Model() {
    return m_host->Model();
}

bool CVantrelDlg::AdsHidden() const {
    return m_host->Model().State().hidden;
}

void CVantrelDlg::OnDestroy() {
    if (m_view) m_host->Model().RemoveView(m_view);
    m_view = 0;
}

BOOL CVantrelDlg::OnInitDialog() {
    m_btnSettings.SubclassDlgItem(IDC_SETTINGS, m_hWnd);
    m_btnHelp.SubclassDlgItem(IDC_HELP_BUTTON, m_hWnd);
    m_statusIcon = GetDlgItem(IDC_STATUS_ICON);
    m_statusLabel.SubclassDlgItem(IDC_STATUS_LABEL, m_hWnd);
    m_btnUpgrade.SubclassDlgItem(IDC_UPGRADE, m_hWnd);
    m_btnExit.SubclassDlgItem(IDCANCEL, m_hWnd);
    m_btnToggle.SubclassDlgItem(IDOK, m_hWnd);

    // The About entry closes the system menu, after a separator.
    if (const HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t about[128] = {};
        if (::LoadStringW(ResourceModule(), IDS_ABOUTBOX, about, 128) > 0) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            UINT id = kIdmTimedShow;
            for (const TimedShowChoice& choice : kTimedShowChoices) {
                ::AppendMenuW(menu, MF_STRING, id, Utf8ToWide(choice.text).c_str());
                id += 0x10;
            }
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));

    MakeNotesLine();
    // The splash opens as soon as this dialog shows: owned by a window already on the screen,
    // window managers keep it above that window.
    if (m_bShowSplash) ::PostMessageW(m_hWnd, kShowSplash, 0, 0);
    SetDlgItemText(IDC_UPGRADE, L"Upgrade");
    ::SetWindowTextW(m_hWnd, kProduct);
    m_view = Model().AddView([this](const MainState& state) { Draw(state); });
    Draw(Model().State());
    m_host->Start();
    return TRUE;
}

void CVantrelDlg::MakeNotesLine() {
    // Two lines of notes between the status and the hint: the group box grows by three dialog
    // units, still clear of the buttons, and the hint moves below the notes.
    Place(m_hWnd, GetDlgItem(IDC_SETTINGS_GROUP), 7, 165, 341, 53);
    Place(m_hWnd, GetDlgItem(IDC_HINT), 48, 206, 283, 8);
    const RECT r = DialogRect(m_hWnd, 48, 189, 281, 16);
    m_lblNotes = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                   r.left, r.top, r.right - r.left, r.bottom - r.top, m_hWnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_NOTES)),
                                   ResourceModule(), nullptr);
    ::SendMessageW(m_lblNotes, WM_SETFONT, ::SendMessageW(m_hWnd, WM_GETFONT, 0, 0), FALSE);
}

void CVantrelDlg::RefreshStatus() {
    Model().Refresh();
}

void CVantrelDlg::OnOK() {
    Model().Toggle(Prompts());
}

void CVantrelDlg::OnCancel() {
    const bool last = !m_isLast || m_isLast();
    if (last && Model().TimedShowRunning() &&
        ShowMessage(m_hWnd, Utf8ToWide(kHideAgainNowQuestion), kProduct,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) == IDYES) {
        Model().Apply(HostsIntent::Hide, Prompts());
    }
    EndDialog(IDCANCEL);
    if (m_closed) m_closed();
}

void CVantrelDlg::ShowNotice(const Notice& notice) {
    std::wstring text = Utf8ToWide(notice.text);
    if (!notice.offerHide) {
        ShowMessage(m_hWnd, text, kProduct, MB_OK | MB_ICONINFORMATION);
        return;
    }
    text += L"\n\n" + Utf8ToWide(kHideAgainAction) + L"?";
    if (ShowMessage(m_hWnd, text, kProduct, MB_YESNO | MB_ICONWARNING) == IDYES)
        Model().Apply(HostsIntent::Hide, Prompts());
}

PressPrompts CVantrelDlg::Prompts() {
    return PromptsOver([this] { return m_hWnd; });
}

void CVantrelDlg::Draw(const MainState& state) {
    // Shared icon handles: loaded from the resources each time, never freed.
    const HICON icon = static_cast<HICON>(::LoadImageW(
        ResourceModule(), MAKEINTRESOURCEW(state.hidden ? IDI_ADS_HIDDEN : IDI_ADS_SHOWN),
        IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    ::SendMessageW(m_statusIcon, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    m_statusLabel.SetLabelColor(state.hidden ? RGB(0, 125, 0) : RGB(255, 0, 0));
    SetDlgItemText(IDC_STATUS_LABEL, Utf8ToWide(state.status));
    SetDlgItemText(IDC_HINT, Utf8ToWide(state.hint));
    SetDlgItemText(IDOK, Utf8ToWide(state.toggle));
    ::EnableWindow(GetDlgItem(IDOK), !state.busy);
    ::EnableWindow(GetDlgItem(IDC_SETTINGS), !state.busy);
    if (m_busy && !state.busy && ::GetFocus() == nullptr) ::SetFocus(GetDlgItem(IDOK));
    m_busy = state.busy;
    ShowNotes(state.notes);
}

void CVantrelDlg::ShowNotes(const std::vector<std::string>& notes) {
    std::wstring text;
    for (const std::string& line : notes) {
        if (!text.empty()) text += L'\n';
        text += Utf8ToWide(line);
    }
    RECT r{};
    ::GetClientRect(m_lblNotes, &r);
    // One sentence a line when there is room, else run together; the label cuts the rest.
    if (!text.empty() && TextHeight(m_lblNotes, text) > r.bottom) {
        for (wchar_t& c : text) {
            if (c == L'\n') c = L' ';
        }
    }
    ::SetWindowTextW(m_lblNotes, text.c_str());
}

bool CVantrelDlg::OnCommand(WORD id, WORD code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_UPGRADE:
            OnUpgrade();
            return true;
        case IDC_HELP_BUTTON:
            OnHelp();
            return true;
        case IDC_SETTINGS:
            OnSettings();
            return true;
        default:
            return false;
    }
}

INT_PTR CVantrelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    if (message == kShowSplash) {
        // Owned by this dialog: it stays above it and goes with it. It takes the keyboard, so
        // a key press dismisses it.
        if (!m_pSplash) {
            m_pSplash = std::make_unique<CSplashDlg>();
            m_pSplash->Popup(m_hWnd);
        }
        handled = true;
        return 0;
    }
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == IDM_ABOUTBOX) {
        OnAbout();
        handled = true;
    }
    if (message == WM_SYSCOMMAND) {
        const UINT command = static_cast<UINT>(wParam & 0xFFF0);
        for (std::size_t i = 0; i < std::size(kTimedShowChoices); ++i) {
            if (command != kIdmTimedShow + 0x10 * i) continue;
            Model().ShowFor(kTimedShowChoices[i].minutes, Prompts());
            handled = true;
        }
    }
    return 0;
}

void CVantrelDlg::OnUpgrade() {
    // An upgrade's old uninstaller takes the block out on Vantrel's behalf: that is no other
    // program's change, and a notice about it (here or in the tray) would hold up the program's
    // end for the setup.
    m_host->PauseWatch();
    m_dlgUpgrade.SetUpgradeInfo("Vantrel", RunningVersion(), CUpgradeDlg::UpgradePageUrl());
    m_dlgUpgrade.DoModal(m_hWnd);
    m_host->ResumeWatch();
    Model().FileChanged();
}

void CVantrelDlg::OnHelp() {
    // The installed help file, only when it is there, in the system's own Notepad named by its
    // full path: never through the association of .txt files, which any program of the user
    // can change.
    const std::wstring folder = ProgramFolder();
    const std::wstring help = folder + L"\\help.txt";
    if (folder.empty() || ::GetFileAttributesW(help.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::wstring notepad = std::wstring(system, length) + L"\\notepad.exe";
    std::wstring line = L"\"" + notepad + L"\" \"" + help + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(notepad.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         folder.c_str(), &startup, &process)) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

void CVantrelDlg::OnSettings() {
    // The list is what the hosts file service writes: only an administrator changes it. The
    // dialog opens in an elevated copy of this program (one prompt), which saves into the
    // installation's folder; this window waits for it and shows the file as it then is.
    RunElevated(m_hWnd, L"-settings");
    RefreshStatus();
}

void CVantrelDlg::OnAbout() {
    CAboutDlg dlg;
    dlg.DoModal(m_hWnd);
}
