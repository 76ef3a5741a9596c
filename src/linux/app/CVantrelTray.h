// The tray icon (`vantrel --tray`): red or green as the main window, its state and a timed Show's
// end in the tooltip, a click opens the window, the menu hides, shows, shows for a while, opens
// the window, starts the tray with the desktop and ends it. It holds the model the window it
// opens draws, and says what the model notices.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

#include "model/MainModel.h"

class CModelHost;
class CVantrelDlg;
class QAction;

class CVantrelTray : public QObject {
    Q_OBJECT

public:
    CVantrelTray();
    ~CVantrelTray() override;

    // Shows the icon and starts the model (a passed timed Show hides the ads at once).
    void Start();
    // Another start of the tray: its menu comes forward.
    void PopUpMenu();
    // The window, opened or brought forward.
    void OpenWindow();
    // Ends the tray, after asking during a timed Show whether to hide the ads again now.
    void Exit();

    QMenu* Menu() { return &m_menu; }
    QSystemTrayIcon* Icon() { return &m_icon; }

    // The autostart entry that starts the tray with the user's desktop.
    static QString AutostartPath();

private:
    void Draw(const MainState& state);
    void ShowNotice(const Notice& notice);
    PressPrompts Prompts();
    void SetStartWithDesktop(bool on);

    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QAction* m_toggle = nullptr;
    QAction* m_startWithDesktop = nullptr;
    bool m_hidden = false;  // as drawn
    bool m_drawn = false;
    bool m_noticeOffersHide = false;  // the last notice's click hides the ads again
    std::unique_ptr<CModelHost> m_host;
    QPointer<CVantrelDlg> m_window;
};
