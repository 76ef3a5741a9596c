// The calling thread's wait on Windows: MsgWaitForMultipleObjects on the worker's wake event,
// dispatching the thread's messages as they come.
#include "platform/net/FetchWait.h"

#include <windows.h>

#include "platform/system/MessagePump_win.h"
#include "platform/system/WideText_win.h"

struct CFetchWait::Impl {
    HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Impl() {
        if (event) ::CloseHandle(event);
    }
};

CFetchWait::CFetchWait() : m_impl(std::make_unique<Impl>()) {}

CFetchWait::~CFetchWait() = default;

CFetchWait::EWoke CFetchWait::Wait(std::optional<std::chrono::steady_clock::time_point> deadline) {
    DWORD timeout = INFINITE;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            *deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return EWoke::Deadline;
        timeout = static_cast<DWORD>(left.count());
    }
    const DWORD woke = ::MsgWaitForMultipleObjects(1, &m_impl->event, FALSE, timeout, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return EWoke::Woken;
    if (woke == WAIT_TIMEOUT) return EWoke::Deadline;
    return PumpMessages() ? EWoke::Woken : EWoke::Quit;
}

void CFetchWait::Wake() {
    ::SetEvent(m_impl->event);
}

void CFetchWait::ShowBySystem(const std::string& text) {
    ::MessageBoxW(nullptr, Utf8ToWide(text).c_str(), L"Vantrel", MB_OK);
}
