// The check: status window, fetch, the page's values, one answer; on Yes, the verified download
// and the run of the old uninstaller and the new setup.
#include "windows/upgrade/CUpgradeDlg.h"

// After windows.h, which CUpgradeDlg.h includes.
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/prefs/CRegistryStore.h"
#include "platform/system/ProcessTree_win.h"
#include "platform/system/WideText_win.h"
#include "windows/app/ProgramFolder.h"
#include "windows/controls/MessageBox.h"
#include "windows/resource.h"
#include "windows/upgrade/NetConfig.h"

namespace {

// The download's folder: made afresh below the system's temporary folder (%SystemRoot%\Temp,
// where other accounts may make folders of their own but cannot change or remove anyone
// else's), with an access list for Administrators and SYSTEM only that nothing is inherited
// into; removed with what it holds.
class CUpgradeFolder {
public:
    CUpgradeFolder() {
        wchar_t windows[MAX_PATH];
        const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (length == 0 || length >= MAX_PATH ||
            !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
            return;
        }
        SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
        const std::wstring prefix = std::wstring(windows, length) + L"\\Temp\\Vantrel-upgrade-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L"-";
        // Never one that is there already, whoever made it.
        for (unsigned attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const std::wstring path = prefix + std::to_wstring(::GetTickCount64() + attempt);
            if (::CreateDirectoryW(path.c_str(), &security))
                m_path = path;
            else if (::GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        ::LocalFree(descriptor);
    }
    ~CUpgradeFolder() { Remove(); }
    CUpgradeFolder(const CUpgradeFolder&) = delete;
    CUpgradeFolder& operator=(const CUpgradeFolder&) = delete;

    bool Made() const { return !m_path.empty(); }
    std::wstring File(const char* name) const { return m_path + L"\\" + Utf8ToWide(name); }
    void Remove() {
        if (m_path.empty()) return;
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((m_path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                    ::DeleteFileW((m_path + L"\\" + found.cFileName).c_str());
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryW(m_path.c_str());
        m_path.clear();
    }

private:
    std::wstring m_path;
};

}  // namespace

CUpgradeProgressDlg::CUpgradeProgressDlg() : CDialog(IDD_UPGRADE_PROGRESS) {}

CUpgradeDlg::CUpgradeDlg()
    : CDialog(IDD_UPGRADE),
      m_key(BuiltInUpgradeKey()),
      m_strProgramFolder(ProgramFolder()),
      m_endProcess([](int code) {
          // The old version is gone: nothing else of this program may run.
          ::ExitProcess(static_cast<UINT>(code));
      }) {
    m_fetch = [this](const std::string& url, std::string* why) -> std::optional<CStringList> {
        const CStringList& lines = m_fetcher.Fetch(url, std::string());
        if (!m_fetcher.LastFetchSucceeded()) {
            if (why != nullptr) *why = m_fetcher.LastFailureReason();
            return std::nullopt;
        }
        return lines;
    };
}

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
    // Fixed when the program is built (by default a reserved name that no server answers to).
    return VANTREL_UPGRADE_URL;
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
    bool bCloseAfterwards = false;
    if (m_page.fNewVersion > m_fVersion) {
        const int answer = ShowMessage(m_hWnd,
                                       L"A new upgrade of " + product +
                                           L" is available for download.\n\nDescription:\n\n" +
                                           Utf8ToWide(m_page.strDescription) +
                                           L"\n\nWould you like to download the upgrade now?",
                                       L"A new upgrade is available.", MB_YESNO);
        if (answer == IDYES) {
            DownloadAndInstall(m_page.strDownloadLink);
        } else {
            bCloseAfterwards = true;
        }
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
    if (bCloseAfterwards) EndDialog(IDCANCEL);
}

void CUpgradeDlg::RefuseUpgrade(UpgradeRefusal refusal) {
    const bool bWarning =
        refusal != UpgradeRefusal::kNoLink && refusal != UpgradeRefusal::kDownloadFailed;
    ShowMessage(m_hWnd, Utf8ToWide(RefusalMessage(refusal, VANTREL_DOWNLOAD_PAGE)), L"Vantrel",
                bWarning ? MB_ICONWARNING : MB_ICONINFORMATION);
}

void CUpgradeDlg::DownloadAndInstall(std::string link) {
    link = TrimmedLine(link);
    UpgradeRefusal refusal = CheckBeforeDownload(m_strUpgradeUrl, link, m_page.strSha256);
    if (refusal == UpgradeRefusal::kNone && !m_key) refusal = UpgradeRefusal::kNoKey;
    if (refusal != UpgradeRefusal::kNone) {
        RefuseUpgrade(refusal);
        return;
    }
    // A fresh folder that only administrators can write: nobody else can put a file in place of
    // the setup there, and nothing from before can pass for this download.
    CUpgradeFolder folder;
    if (!folder.Made()) {
        RefuseUpgrade(UpgradeRefusal::kDownloadFailed);
        return;
    }
    const std::wstring setup = folder.File(kDownloadFile);

    CUpgradeProgressDlg progress;
    if (progress.Create(m_hWnd)) {
        ::SetWindowTextW(progress.GetSafeHwnd(), L"Upgrading Software");
        ::ShowWindow(progress.GetSafeHwnd(), SW_SHOWNORMAL);
        ::ShowWindow(progress.GetDlgItem(IDC_PROGRESS_TEXT), SW_SHOWNORMAL);
    }
    const auto status = [&progress](const std::string& text) {
        progress.SetDlgItemText(IDC_PROGRESS_TEXT, Utf8ToWide(text));
    };
    std::string signature;
    {
        CHttpFetcher fetcher;
        fetcher.Fetch(link, WideToUtf8(setup), status);
        refusal =
            fetcher.LastFetchSucceeded() ? UpgradeRefusal::kNone : UpgradeRefusal::kDownloadFailed;
        // The maker's signature lies beside the setup, under the same name and ".sig".
        if (refusal == UpgradeRefusal::kNone) {
            const std::wstring signatureFile = folder.File(kSignatureFile);
            fetcher.Fetch(link + ".sig", WideToUtf8(signatureFile));
            FILE* file = ::_wfopen(signatureFile.c_str(), L"rb");
            char bytes[256];
            const std::size_t got = file ? std::fread(bytes, 1, sizeof bytes, file) : 0;
            if (file) std::fclose(file);
            signature.assign(bytes, got);
        }
    }
    // From its checks until it has run, the setup stays open, shared for reading only: it can be
    // neither changed nor deleted nor renamed meanwhile.
    const HANDLE held = refusal == UpgradeRefusal::kNone
                            ? ::CreateFileW(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : INVALID_HANDLE_VALUE;
    if (refusal == UpgradeRefusal::kNone && held == INVALID_HANDLE_VALUE)
        refusal = UpgradeRefusal::kDownloadFailed;
    if (refusal == UpgradeRefusal::kNone)
        refusal = CheckDownload(WideToUtf8(setup), m_page.strSha256, signature, *m_key);
    // The maker signed every setup ever released: an older one must not pass for the offer.
    if (refusal == UpgradeRefusal::kNone)
        refusal = CheckSetupVersion(ProductVersionOf(setup), m_page.fNewVersion, m_fVersion);
    if (refusal != UpgradeRefusal::kNone) {
        if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
        folder.Remove();
        ::ShowWindow(progress.GetSafeHwnd(), SW_HIDE);
        RefuseUpgrade(refusal);
        return;
    }

    status("Removing old version ..");
    // Nothing is dispatched while the two programs run: the text must be on the screen first.
    ::RedrawWindow(progress.GetSafeHwnd(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // The old uninstaller from the program's own folder, then the new setup, each with
    // everything it starts to its end (an NSIS uninstaller hands over to a copy of itself and
    // returns at once).
    const std::wstring uninstaller = m_strProgramFolder + L"\\" + Utf8ToWide(kUninstallerName);
    if (!m_strProgramFolder.empty() &&
        ::GetFileAttributesW(uninstaller.c_str()) != INVALID_FILE_ATTRIBUTES) {
        RunProcessTree(QuoteForCommandLine(uninstaller) + Utf8ToWide(kUninstallerArgument),
                       m_strProgramFolder);
    }
    RunProcessTree(QuoteForCommandLine(setup), m_strProgramFolder);
    ::CloseHandle(held);
    ::ShowWindow(progress.GetSafeHwnd(), SW_HIDE);
    folder.Remove();
    m_endProcess(0);
}

void CUpgradeDlg::FinishCheck() {
    ::EnableWindow(GetDlgItem(IDOK), FALSE);
    ::SetFocus(GetDlgItem(IDCANCEL));
    ::GetLocalTime(&m_dtLastCheck);
}
