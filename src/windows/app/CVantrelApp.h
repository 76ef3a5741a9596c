// The session's Vantrel: one process per user session holds the model (CModelHost) and shows the
// main window, the tray icon or both. A later start of either kind hands its wish to that process
// and ends; the process ends once neither the window nor the tray remains.
#pragma once

#include <windows.h>

#include <memory>

class CModelHost;
class CVantrelDlg;
class CVantrelTray;
struct Notice;

// What a start asks for: the main window ("vantrel.exe") or the tray ("vantrel.exe --tray").
enum class VantrelWish : WPARAM { Window = 1, Tray = 2 };

class CVantrelApp {
public:
    CVantrelApp();
    ~CVantrelApp();
    CVantrelApp(const CVantrelApp&) = delete;
    CVantrelApp& operator=(const CVantrelApp&) = delete;

    // Becomes the session's Vantrel and runs until the end of its window and tray, or hands
    // `wish` to the one that runs and returns at once. The process's exit status.
    int Run(VantrelWish wish);

private:
    bool HandOver(VantrelWish wish);
    void Grant(VantrelWish wish);
    void OpenWindow();
    void WindowClosed();
    void ShowTray();
    void TrayExited();
    void Notify(const Notice& notice);
    HWND PromptOwner() const;
    bool OnHostMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer);

    HANDLE m_instance = nullptr;  // the session's name, held while this process is its Vantrel
    std::unique_ptr<CModelHost> m_host;
    std::unique_ptr<CVantrelDlg> m_window;
    std::unique_ptr<CVantrelDlg> m_closedWindow;  // freed from a posted message, off its own stack
    std::unique_ptr<CVantrelTray> m_tray;
    bool m_ending = false;
};
