// Dialogs from templates: the dialog procedure finds its object through the window's user data.
#include "windows/controls/CDialog.h"

CDialog::CDialog(int templateId) : m_nTemplate(templateId) {}

CDialog::~CDialog() {
    // A modeless window must not outlive the object that answers its messages.
    if (m_hWnd != nullptr && !m_bModal) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

HINSTANCE CDialog::ResourceModule() {
    return ::GetModuleHandleW(nullptr);
}

INT_PTR CDialog::DoModal(HWND owner) {
    m_bModal = true;
    return ::DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(m_nTemplate), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HWND owner) {
    m_bModal = false;
    return ::CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(m_nTemplate), owner, DialogProc,
                                reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_hWnd == nullptr) return;
    if (m_bModal)
        ::EndDialog(m_hWnd, result);
    else
        ::ShowWindow(m_hWnd, SW_HIDE);
}

void CDialog::CenterWindow(bool onScreen) const {
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT centre = area;
    const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (!onScreen && owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &centre);
    RECT r{};
    ::GetWindowRect(m_hWnd, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    int x = (centre.left + centre.right - w) / 2;
    int y = (centre.top + centre.bottom - h) / 2;
    // Whole on the screen's work area where it fits.
    if (x + w > area.right) x = area.right - w;
    if (y + h > area.bottom) y = area.bottom - h;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring WindowText(HWND hwnd) {
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

std::wstring CDialog::GetDlgItemText(int id) const {
    return WindowText(GetDlgItem(id));
}

void CDialog::SetDlgItemText(int id, const std::wstring& text) const {
    ::SetDlgItemTextW(m_hWnd, id, text.c_str());
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
    }
    if (self == nullptr) return FALSE;
    const INT_PTR result = self->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    const INT_PTR answer = OnMessage(message, wParam, lParam, handled);
    if (handled) {
        // Messages that return a value of their own do so directly; the rest through
        // DWLP_MSGRESULT.
        switch (message) {
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORBTN:
            case WM_CTLCOLORDLG:
            case WM_CTLCOLOREDIT:
            case WM_INITDIALOG:
                return answer;
            default:
                ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, answer);
                return TRUE;
        }
    }
    switch (message) {
        case WM_INITDIALOG: {
            RECT before{};
            ::GetWindowRect(m_hWnd, &before);
            const BOOL result = OnInitDialog();
            RECT after{};
            ::GetWindowRect(m_hWnd, &after);
            // A dialog that did not place itself opens centred over its owner, or on the screen.
            if (::EqualRect(&before, &after) &&
                (::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & (DS_CENTER | WS_CHILD)) == 0)
                CenterWindow();
            return result;
        }
        case WM_COMMAND: {
            const WORD id = LOWORD(wParam);
            const WORD code = HIWORD(wParam);
            if (id == IDOK && code == BN_CLICKED) {
                OnOK();
                return TRUE;
            }
            if (id == IDCANCEL && code == BN_CLICKED) {
                OnCancel();
                return TRUE;
            }
            return OnCommand(id, code) ? TRUE : FALSE;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType != ODT_BUTTON) return FALSE;
            if (::SendMessageW(item->hwndItem, kReflectDrawItem, wParam, lParam) == 0) return FALSE;
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC: {
            // A control that colours itself answers with its brush; the others get the default.
            const LRESULT brush = ::SendMessageW(reinterpret_cast<HWND>(lParam),
                                                 kReflectCtlColorStatic, wParam, lParam);
            return static_cast<INT_PTR>(brush);
        }
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}
