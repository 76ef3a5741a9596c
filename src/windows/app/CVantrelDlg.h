// The main dialog (template 102): explains the program, shows whether ads are hidden and
// toggles the block; Settings, Upgrade, Help and Exit; About in the system menu. It draws the
// main window's model and forwards its presses and timer ticks to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/MainModel.h"
#include "windows/controls/CColorLabel.h"
#include "windows/controls/CDialog.h"
#include "windows/controls/CXPButton.h"
#include "windows/upgrade/CUpgradeDlg.h"

class CFolderWatch;
class CSplashDlg;

class CVantrelDlg : public CDialog {
public:
    CVantrelDlg();
    ~CVantrelDlg() override;

    // Shows what the hosts file holds now: icon, colour and texts, the toggle's caption.
    void RefreshStatus();
    // The splash window while it exists (tests).
    CSplashDlg* Splash() const { return m_pSplash.get(); }
    CUpgradeDlg& UpgradeDialog() { return m_dlgUpgrade; }
    // Whether ads were hidden at the last status display.
    bool AdsHidden() const { return m_model->State().hidden; }
    // Shows the splash when the dialog starts (on by default; tests turn it off).
    void SetShowSplash(bool show) { m_bShowSplash = show; }

protected:
    BOOL OnInitDialog() override;
    // The toggle (control 1, or Enter): the dialog stays open.
    void OnOK() override;
    // Exit, Escape, the close box: during a timed Show it asks whether to hide the ads again.
    void OnCancel() override;
    bool OnCommand(WORD id, WORD code) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void MakeNotesLine();
    void Draw(const MainState& state);
    void ShowNotes(const std::vector<std::string>& notes);
    void ShowNotice(const Notice& notice);
    PressPrompts Prompts();
    void OnUpgrade();
    void WatchHostsFolder();
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
    bool m_bShowSplash = true;
    bool m_busy = false;  // drawn: the toggle and Settings wait for a press's browsers to close
    std::unique_ptr<MainModel> m_model;
    std::unique_ptr<CFolderWatch> m_watch;  // the hosts file's folder
};
