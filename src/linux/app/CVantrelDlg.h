// The main dialog: explains the program, shows whether ads are hidden and toggles the block.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <vector>

#include "core/protection/ProtectionNotes.h"
#include "linux/browsers/BrowserOffer.h"

#include "linux/upgrade/CUpgradeDlg.h"

class CColorLabel;
class CSplashDlg;
class CXPButton;
class QLabel;
class QMenu;

class CVantrelDlg : public QDialog {
    Q_OBJECT

public:
    // Control ids of the dialog's template.
    enum ControlId {
        kIdToggle = 1,
        kIdExit = 2,
        kIdUpgrade = 3,
        kIdHelp = 4,
        kIdSettings = 5,
        kIdSettingsGroup = 1000,
        kIdStatusIcon = 1001,
        kIdStatusLabel = 1002,
        kIdHint = 1003,
    };

    explicit CVantrelDlg(QWidget* parent = nullptr);
    ~CVantrelDlg() override;

    // Shows what the hosts file holds now: icon, colour and texts, the toggle's caption.
    void RefreshStatus();
    // The same for a state already known (the toggle's result).
    void ShowStatus(bool hidden);
    // The toggle: asks for what its caption says, Hide when ads are shown and Show when hidden.
    void OnOK();
    // The window menu: its last entries are a separator and the About entry. The caller owns it.
    QMenu* CreateSystemMenu();
    // The line below the status: what still lets ads through while they are hidden.
    QString NotesText() const;
    // The splash window while it exists.
    CSplashDlg* Splash() const;

    // The OK path toggles; it never closes the dialog.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    void ShowSplash();
    void OfferToCloseBrowsers();
    // Shows the notes for what is known now and records the status shown.
    void ShowNotes();
    void StartLookupCheck();
    void WatchBrowsersToRestart();
    void TraceStatus();
    void OnUpgrade();
    void OnHelp();
    void OnSettings();
    void OnAbout();

    // Lives as long as this dialog: it records the date of the last check when it goes.
    CUpgradeDlg m_dlgUpgrade;
    QPointer<CSplashDlg> m_pSplash;
    CXPButton* m_btnSettings = nullptr;
    CXPButton* m_btnHelp = nullptr;
    QLabel* m_statusIcon = nullptr;
    CColorLabel* m_statusLabel = nullptr;
    CXPButton* m_btnUpgrade = nullptr;
    CXPButton* m_btnExit = nullptr;
    CXPButton* m_btnToggle = nullptr;
    QIcon m_hIcon;
    bool m_bSplashShown = false;
    QLabel* m_lblNotes = nullptr;
    bool m_bHidden = false;
    ProtectionFacts m_facts;
    QString m_strWaiting;  // what the browser offer waits for, while it does
    std::vector<RunningBrowser> m_restart;
    std::vector<int> m_firefoxPids;  // Firefox processes that started before the change
    QTimer m_restartWatch;
    LiveApplyBlock m_notLive = LiveApplyBlock::None;  // why open browsers were not updated
    unsigned m_nCheck = 0;  // the lookups whose answer counts: earlier ones are stale
};
