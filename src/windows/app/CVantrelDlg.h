// The main dialog (template 102): explains the program, shows whether ads are hidden and
// toggles the block; Settings, Upgrade, Help and Exit; About in the system menu.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/protection/ProtectionNotes.h"
#include "platform/browsers/BrowserOffer.h"
#include "platform/hosts/HostsFileIO.h"
#include "windows/controls/CColorLabel.h"
#include "windows/controls/CDialog.h"
#include "windows/controls/CXPButton.h"
#include "windows/upgrade/CUpgradeDlg.h"

class CSplashDlg;

class CVantrelDlg : public CDialog {
public:
    CVantrelDlg();
    ~CVantrelDlg() override;

    // Shows what the hosts file holds now: icon, colour and texts, the toggle's caption.
    void RefreshStatus();
    // The line below the status: what still lets ads through while they are hidden.
    std::wstring NotesText() const;
    // The splash window while it exists (tests).
    CSplashDlg* Splash() const { return m_pSplash.get(); }
    CUpgradeDlg& UpgradeDialog() { return m_dlgUpgrade; }
    // Whether ads were hidden at the last status display.
    bool AdsHidden() const { return m_bHidden; }
    // Shows the splash when the dialog starts (on by default; tests turn it off).
    void SetShowSplash(bool show) { m_bShowSplash = show; }

protected:
    BOOL OnInitDialog() override;
    // The toggle (control 1, or Enter): the dialog stays open.
    void OnOK() override;
    bool OnCommand(WORD id, WORD code) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    struct HostsOutcome {
        bool hidden = false;
        std::string failure;      // why a toggle failed, in a sentence for the user
        std::string text;         // the file as read after the change
        bool systemFile = false;  // the system's own hosts file, the one the resolver reads
    };
    // Every use of the hosts file: carries out a press's intent when given, else reads whether
    // ads are hidden.
    static HostsOutcome UseHostsFile(std::optional<HostsIntent> intent);

    void MakeNotesLine();
    void ShowStatus(const HostsOutcome& outcome);
    void ShowNotes();
    void StartLookupCheck(const std::string& hostsText);
    void WatchBrowsersToRestart();
    void AfterHostsChange(const HostsOutcome& outcome);
    void OnUpgrade();
    void OnHelp();
    void OnSettings();
    void OnAbout();

    // Lives as long as this dialog: it records the date of the last check when it goes.
    CUpgradeDlg m_dlgUpgrade;
    std::unique_ptr<CSplashDlg> m_pSplash;
    CXPButton m_btnSettings;
    CXPButton m_btnHelp;
    HWND m_statusIcon = nullptr;
    CColorLabel m_statusLabel;
    CXPButton m_btnUpgrade;
    CXPButton m_btnExit;
    CXPButton m_btnToggle;
    HICON m_hIcon;
    HICON m_hSmallIcon;
    HWND m_lblNotes = nullptr;
    bool m_bHidden = false;
    bool m_bShowSplash = true;
    ProtectionFacts m_facts;
    std::wstring m_strWaiting;  // what the browser offer waits for, while it does
    std::vector<RunningBrowser> m_restart;
    std::vector<int> m_firefoxPids;  // Firefox processes that started before the change
    unsigned m_nCheck = 0;           // the lookups whose answer counts: earlier ones are stale
};
