// The model's work that may wait (the lookup check) runs on a thread of its own; what it hands
// back runs on the window's thread, carried there by a posted message.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <thread>

#include "model/MainModel.h"

inline constexpr UINT kRunOnUiThread = WM_APP + 2;

// Runs `job` off the calling thread and posts its result to `window` as kRunOnUiThread.
inline void RunOffUiThread(HWND window, OffThreadJob job) {
    std::thread([window, job = std::move(job)] {
        auto* done = new std::function<void()>(job());
        if (!::PostMessageW(window, kRunOnUiThread, 0, reinterpret_cast<LPARAM>(done))) delete done;
    }).detach();
}

// The window procedure's part for kRunOnUiThread: runs the result once and frees it.
inline void RunPostedResult(LPARAM posted) {
    const std::unique_ptr<std::function<void()>> done(
        reinterpret_cast<std::function<void()>*>(posted));
    (*done)();
}
