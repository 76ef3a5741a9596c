// The main window's model and what drives it, on a hidden top-level window of its own: the
// results of the model's work off the thread, its timer of about a second and the hosts file's
// folder watch (the file is read once the writes have settled). It lives apart from the window
// and the tray, which draw it; a main dialog made on its own makes a host of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "model/MainModel.h"

class CFolderWatch;

class CModelHost {
public:
    // A host window with `title`: the session's is found by it.
    explicit CModelHost(const wchar_t* title = L"");
    ~CModelHost();
    CModelHost(const CModelHost&) = delete;
    CModelHost& operator=(const CModelHost&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    MainModel& Model() { return *m_model; }
    // Shows what the file holds, takes up a stored timed Show and starts the watch; only the
    // first call does anything, once a view is there to draw and tell.
    void Start();
    // A change of the file that is Vantrel's own (an upgrade's uninstaller): no watch meanwhile.
    void PauseWatch();
    void ResumeWatch();

    // Where the model's notices go.
    void SetNotify(std::function<void(const Notice&)> notify) { m_notify = std::move(notify); }
    // A press's prompts over the window that the prompt owner names when they open.
    PressPrompts Prompts();
    // The window that the quiet prompts and Prompts() open over (null: none).
    void SetPromptOwner(std::function<HWND()> owner) { m_promptOwner = std::move(owner); }
    // The host window's other messages: `answer` is returned when the handler takes one.
    using Handler =
        std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer)>;
    void SetHandler(Handler handler) { m_handler = std::move(handler); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Watch();

    HWND m_hWnd = nullptr;
    std::function<void(const Notice&)> m_notify;
    std::function<HWND()> m_promptOwner;
    Handler m_handler;
    std::unique_ptr<MainModel> m_model;
    std::unique_ptr<CFolderWatch> m_watch;  // the hosts file's folder
    bool m_started = false;
    bool m_watchPaused = false;
};

// What a press may ask and tell, over the window `owner` names when it does: its warnings (a
// missing hosts file service with the offer to repair it) and the offer to close the browsers.
PressPrompts PromptsOver(std::function<HWND()> owner);

// The class of the host's window.
inline constexpr wchar_t kModelHostClass[] = L"VantrelModelHost";
