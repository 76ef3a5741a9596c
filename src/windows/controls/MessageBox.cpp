#include "windows/controls/MessageBox.h"

#include <utility>

namespace {
MessageHook& Hook() {
    static MessageHook hook;
    return hook;
}
}  // namespace

int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    if (Hook()) return Hook()({owner, text, caption, flags});
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

MessageHook SetMessageHook(MessageHook hook) {
    return std::exchange(Hook(), std::move(hook));
}
