// The main dialog: explains the program, shows whether ads are hidden and toggles the block.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>

#include "linux/net/CUpgradeDlg.h"

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
    // The toggle: adds the block when ads are shown, removes it when they are hidden.
    void OnOK();
    // The window menu: its last entries are a separator and the About entry. The caller owns it.
    QMenu* CreateSystemMenu();
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
};
