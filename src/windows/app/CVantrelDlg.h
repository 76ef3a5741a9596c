// The main dialog (template 102): explains the program, shows whether ads are hidden and
// toggles the block; Settings, Upgrade, Help and Exit; About and the timed Shows in the system
// menu. It draws the model of a host (the session's, or one of its own) and forwards its presses.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/MainModel.h"
#include "windows/controls/CColorLabel.h"
#include "windows/controls/CDialog.h"
#include "windows/controls/CXPButton.h"
#include "windows/upgrade/CUpgradeDlg.h"

class CModelHost;
class CSplashDlg;

class CVantrelDlg : public CDialog {
public:
    // With a host of its own: the dialog is the only Vantrel, and ending it ends the model.
    CVantrelDlg();
    // Draws `host`'s model, which outlives the dialog.
    explicit CVantrelDlg(CModelHost& host);
    ~CVantrelDlg() override;

    // How the dialog ends: `isLast` says whether it is the last Vantrel (which asks during a
    // timed Show), `closed` hears that it has ended.
    void SetEnding(std::function<bool()> isLast, std::function<void()> closed) {
        m_isLast = std::move(isLast);
        m_closed = std::move(closed);
    }
    // A notice in a message box over the dialog.
    void ShowNotice(const Notice& notice);

    // Shows what the hosts file holds now: icon, colour and texts, the toggle's caption.
    void RefreshStatus();
    // The splash window while it exists (tests).
    CSplashDlg* Splash() const { return m_pSplash.get(); }
    CUpgradeDlg& UpgradeDialog() { return m_dlgUpgrade; }
    // Whether ads were hidden at the last status display.
    bool AdsHidden() const;
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
    void OnDestroy() override;

private:
    void MakeNotesLine();
    void Draw(const MainState& state);
    void ShowNotes(const std::vector<std::string>& notes);
    PressPrompts Prompts();
    MainModel& Model();
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
    bool m_bShowSplash = true;
    bool m_busy = false;  // drawn: the toggle and Settings wait for a press's browsers to close
    std::unique_ptr<CModelHost> m_ownHost;
    CModelHost* m_host;
    int m_view = 0;  // the dialog's view of the model, while the window exists
    std::function<bool()> m_isLast;
    std::function<void()> m_closed;
};
