// The colour label: colours and font are read once, at construction, so a later change of the
// system's colours does not reach a label that already exists.
#include "windows/controls/CColorLabel.h"

#include <commctrl.h>

#include "windows/controls/CDialog.h"

namespace {
LOGFONTW DefaultGuiFont() {
    LOGFONTW font{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    return font;
}
}  // namespace

CColorLabel::CColorLabel()
    : m_textColor(::GetSysColor(COLOR_WINDOWTEXT)),
      m_backBrush(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE))),
      m_logFont(DefaultGuiFont()),
      m_fontText(::CreateFontIndirectW(&m_logFont)) {}

CColorLabel::~CColorLabel() {
    if (m_hWnd != nullptr) ::RemoveWindowSubclass(m_hWnd, SubclassProc, 0);
    if (m_fontText != nullptr) ::DeleteObject(m_fontText);
    if (m_backBrush != nullptr) ::DeleteObject(m_backBrush);
}

bool CColorLabel::SubclassDlgItem(int id, HWND dialog) {
    const HWND label = ::GetDlgItem(dialog, id);
    if (label == nullptr ||
        !::SetWindowSubclass(label, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = label;
    return true;
}

CColorLabel& CColorLabel::SetLabelColor(COLORREF color) {
    m_textColor = color;
    if (m_hWnd != nullptr)
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return *this;
}

LRESULT CALLBACK CColorLabel::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<CColorLabel*>(data);
    if (message == kReflectCtlColorStatic) {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        // The DC belongs to the static control's own paint: the font need not go back.
        ::SelectObject(dc, self->m_fontText);
        ::SetTextColor(dc, self->m_textColor);
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(self->m_backBrush);
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, SubclassProc, 0);
        self->m_hWnd = nullptr;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}
