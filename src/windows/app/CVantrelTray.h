// The tray icon ("vantrel.exe --tray") on Shell_NotifyIconW: red or green as the main window, the
// state and a timed Show's end in its tip, a click opens the main window, its menu as on Linux,
// "Start with my desktop" an HKCU Run entry. Made again when Explorer restarts (TaskbarCreated).
// It draws the host's model, as the main window does.
#pragma once

#include <windows.h>

#include <functional>

#include "model/MainModel.h"

class CModelHost;

class CVantrelTray {
public:
    // `openWindow` opens the main window (or brings it forward); `exited` hears the menu's Exit,
    // once the question has been asked and the icon has gone.
    CVantrelTray(CModelHost& host, std::function<void()> openWindow, std::function<void()> exited);
    ~CVantrelTray();
    CVantrelTray(const CVantrelTray&) = delete;
    CVantrelTray& operator=(const CVantrelTray&) = delete;

    // The icon's window and the icon; false when there is no window.
    bool Create();
    HWND GetSafeHwnd() const { return m_hWnd; }
    // The notice in the icon's balloon.
    void ShowNotice(const Notice& notice);
    // The menu, from a message: for a second start that asks for the tray.
    void PostShowMenu() const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void AddIcon();
    void RemoveIcon();
    void Draw(const MainState& state);
    void ShowMenu();
    void Exit();
    PressPrompts Prompts();

    CModelHost& m_host;
    std::function<void()> m_openWindow;
    std::function<void()> m_exited;
    HWND m_hWnd = nullptr;
    HICON m_icons[2] = {};  // shown, hidden
    MainState m_drawn;
    int m_view = 0;
    bool m_noticeOffersHide = false;
    bool m_iconShown = false;
};
