// The tray icon (`vantrel --tray`): red or green as the main window, its state and a timed Show's
// end in the tooltip, a click opens the window, the menu hides, shows, shows for a while, opens
// the window, starts the tray with the desktop and ends Vantrel. It draws the application's model,
// as the window does, and says what the model notices while it is there.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include "model/MainModel.h"

class CModelHost;
class QAction;

class CVantrelTray : public QObject {
    Q_OBJECT

public:
    explicit CVantrelTray(CModelHost& host);
    ~CVantrelTray() override;

    // Shows the icon in the model's state.
    void Show();
    // Another start of the tray: its menu comes forward.
    void PopUpMenu();
    // The open window, which the questions go over; null when there is none.
    void SetWindow(QWidget* window);
    // The notification beside the icon; a click on one that offers it hides the ads again.
    void ShowNotice(const Notice& notice);
    // Ends Vantrel, the window too, after asking during a timed Show whether to hide the ads
    // again now.
    void Exit();

    QMenu* Menu() { return &m_menu; }
    QSystemTrayIcon* Icon() { return &m_icon; }

    // The autostart entry that starts the tray with the user's desktop.
    static QString AutostartPath();

signals:
    // A click on the icon, or the menu's "Open Vantrel".
    void OpenWindowAsked();

private:
    void Draw(const MainState& state);
    PressPrompts Prompts();
    void SetStartWithDesktop(bool on);

    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QAction* m_toggle = nullptr;
    QAction* m_startWithDesktop = nullptr;
    bool m_hidden = false;  // as drawn
    bool m_drawn = false;
    bool m_noticeOffersHide = false;  // the last notice's click hides the ads again
    CModelHost& m_host;
    int m_view = 0;
    QPointer<QWidget> m_window;
};
