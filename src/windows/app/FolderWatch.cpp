// FindFirstChangeNotificationW: it reports that the folder changed, which is all the window
// needs; what changed is read from the hosts file itself.
#include "windows/app/FolderWatch.h"

CFolderWatch::CFolderWatch(const std::wstring& folder, HWND window, UINT message) {
    m_change = ::FindFirstChangeNotificationW(
        folder.c_str(), FALSE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE);
    m_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_change == INVALID_HANDLE_VALUE || !m_stop) return;
    m_thread = std::thread([this, window, message] {
        const HANDLE handles[] = {m_stop, m_change};
        while (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            ::PostMessageW(window, message, 0, 0);
            if (!::FindNextChangeNotification(m_change)) break;
        }
    });
}

CFolderWatch::~CFolderWatch() {
    if (m_stop) ::SetEvent(m_stop);
    if (m_thread.joinable()) m_thread.join();
    if (m_change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(m_change);
    if (m_stop) ::CloseHandle(m_stop);
}
