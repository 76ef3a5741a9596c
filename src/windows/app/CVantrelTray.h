// The tray icon ("vantrel.exe --tray") on Shell_NotifyIconW: red or green as the main window, the
// state and a timed Show's end in its tip, a click opens the main window, its menu as on Linux,
// "Start with my desktop" an HKCU Run entry. Made again when Explorer restarts (TaskbarCreated).
// It holds a model of its own and watches the hosts file's folder.
#pragma once

#include <windows.h>

#include <memory>

#include "model/MainModel.h"

class CFolderWatch;

class CVantrelTray {
public:
    CVantrelTray();
    ~CVantrelTray();
    CVantrelTray(const CVantrelTray&) = delete;
    CVantrelTray& operator=(const CVantrelTray&) = delete;

    // The session's one tray: runs until its Exit. When another one runs, brings its menu
    // forward instead and returns at once.
    static int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool Create();
    void AddIcon();
    void Draw(const MainState& state);
    void ShowNotice(const Notice& notice);
    void ShowMenu();
    void OpenWindow();
    void Exit();
    PressPrompts Prompts();

    HWND m_hWnd = nullptr;
    HICON m_icons[2] = {};  // shown, hidden
    MainState m_drawn;
    bool m_noticeOffersHide = false;
    bool m_windowOpen = false;
    std::unique_ptr<MainModel> m_model;
    std::unique_ptr<CFolderWatch> m_watch;
};
