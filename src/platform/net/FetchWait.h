// How the calling thread waits for its fetch: it keeps handling its own events, so its windows
// stay painted, until the worker wakes it, its deadline passes or the program quits.
// FetchWait_qt.cpp (a nested Qt event loop) and FetchWait_win.cpp (MsgWaitForMultipleObjects).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class CFetchWait {
public:
    enum class EWoke { Woken, Deadline, Quit };

    CFetchWait();
    ~CFetchWait();
    CFetchWait(const CFetchWait&) = delete;
    CFetchWait& operator=(const CFetchWait&) = delete;

    // Calling thread. Woken may come without a Wake (after events were handled); Quit: the
    // program is quitting, and the calling thread should handle no more events.
    EWoke Wait(std::optional<std::chrono::steady_clock::time_point> deadline);
    // Any thread.
    void Wake();

    // The fetcher's one message, the system's way, when the program set no sink for it.
    static void ShowBySystem(const std::string& text);

private:
    struct Impl;
    const std::unique_ptr<Impl> m_impl;
};
