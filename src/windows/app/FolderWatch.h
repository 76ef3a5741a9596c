// The hosts file's folder, watched on a thread of its own: each change (a file written in place,
// renamed, made or deleted) posts a message to a window.
#pragma once

#include <windows.h>

#include <string>
#include <thread>

class CFolderWatch {
public:
    // Posts `message` to `window` after each change in `folder`; nothing when it cannot watch.
    CFolderWatch(const std::wstring& folder, HWND window, UINT message);
    ~CFolderWatch();
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

private:
    HANDLE m_change = INVALID_HANDLE_VALUE;
    HANDLE m_stop = nullptr;
    std::thread m_thread;
};
