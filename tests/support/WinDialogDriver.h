// Drives modal dialogs from inside their own message loops: a thread timer looks for a shown
// window by title and hands it to the test's action, as a user's next step would.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>

class DialogDriver {
public:
    using Action = std::function<void(HWND)>;

    DialogDriver() {
        m_timer = ::SetTimer(nullptr, 0, 20, &DialogDriver::Tick);
        s_current = this;
    }
    ~DialogDriver() {
        ::KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Once a window titled `title` shows on this thread, `act` runs on it (in turn, first
    // queued first).
    void When(const std::wstring& title, Action act) { m_steps.push_back({title, std::move(act)}); }
    bool Done() const { return m_steps.empty(); }

private:
    struct Step {
        std::wstring title;
        Action act;
    };

    static BOOL CALLBACK Find(HWND hwnd, LPARAM lParam) {
        auto* found = reinterpret_cast<std::pair<const std::wstring*, HWND>*>(lParam);
        wchar_t title[256] = {};
        ::GetWindowTextW(hwnd, title, 256);
        if (::IsWindowVisible(hwnd) && *found->first == title) {
            found->second = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        DialogDriver* self = s_current;
        if (self == nullptr || self->m_bBusy || self->m_steps.empty()) return;
        std::pair<const std::wstring*, HWND> found{&self->m_steps.front().title, nullptr};
        ::EnumThreadWindows(::GetCurrentThreadId(), &DialogDriver::Find,
                            reinterpret_cast<LPARAM>(&found));
        if (found.second == nullptr) return;
        Step step = std::move(self->m_steps.front());
        self->m_steps.pop_front();
        self->m_bBusy = true;
        step.act(found.second);
        self->m_bBusy = false;
    }

    static inline DialogDriver* s_current = nullptr;
    UINT_PTR m_timer = 0;
    bool m_bBusy = false;
    std::deque<Step> m_steps;
};

// A click on a dialog's button, as the mouse would give it.
inline void Click(HWND dialog, int id) {
    ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

inline std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}
