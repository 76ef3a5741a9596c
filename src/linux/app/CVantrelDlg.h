// The main dialog: explains the program, shows whether ads are hidden and toggles the block. It
// draws the main window's model and forwards its presses to it: the application's, which the tray
// draws too, or a model of its own.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <memory>

#include "linux/upgrade/CUpgradeDlg.h"
#include "model/MainModel.h"

class CColorLabel;
class CModelHost;
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

    // With a model of its own, which it starts.
    explicit CVantrelDlg(QWidget* parent = nullptr);
    // Drawing the application's model, which outlives it.
    explicit CVantrelDlg(CModelHost& host, QWidget* parent = nullptr);
    ~CVantrelDlg() override;

    // Shows what the hosts file holds now: icon, colour and texts, the toggle's caption.
    void RefreshStatus();
    // The toggle: asks for what its caption says, Hide when ads are shown and Show when hidden.
    void OnOK();
    // The window menu: its last entries are a separator and the About entry. The caller owns it.
    QMenu* CreateSystemMenu();
    // The splash window while it exists.
    CSplashDlg* Splash() const;
    // Whether no other view of the model (the tray) stays when this window goes; without it,
    // the window is the last.
    void SetLastOne(std::function<bool()> lastOne);
    // A notice beside the window, which stays usable; one that offers it can hide the ads again.
    void ShowNotice(const Notice& notice);

    // The OK path toggles; it never closes the dialog.
    void accept() override;
    // The ways out. The last Vantrel to go during a timed Show (no tray stays) asks whether to
    // hide the ads again now.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    CVantrelDlg(CModelHost* shared, QWidget* parent);
    void CreateControls();
    void ShowSplash();
    void Draw(const MainState& state);
    void ShowNotes(const std::vector<std::string>& notes);
    PressPrompts Prompts();
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
    QIcon m_icon;
    bool m_bSplashShown = false;
    QLabel* m_lblNotes = nullptr;
    QLabel* m_hint = nullptr;
    bool m_busy = false;  // drawn: the toggle and Settings wait for a press's browsers to close
    std::unique_ptr<CModelHost> m_ownHost;  // null while drawing the application's
    CModelHost* m_host = nullptr;
    MainModel* m_model = nullptr;
    int m_view = 0;
    std::function<bool()> m_lastOne = [] { return true; };
};
