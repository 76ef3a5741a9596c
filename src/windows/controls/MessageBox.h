// Every message box of the program goes through ShowMessage, so that tests can answer them
// through a hook instead of clicking a real box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct MessageRequest {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;  // MB_OK, MB_YESNO, MB_ICONWARNING...
};

using MessageHook = std::function<int(const MessageRequest&)>;

// A modal message box owned by `owner`; returns the button pressed (IDOK, IDYES...).
int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption,
                UINT flags = MB_OK);

// Replaces the real box (tests); an empty hook restores it. Returns the previous hook.
MessageHook SetMessageHook(MessageHook hook);
