// Painting and hover tracking of the XP-style button, in GDI. The whole button is composed in a
// memory DC the size of the clip box and copied to the screen with one BitBlt: no flicker.
#include "windows/controls/CXPButton.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "core/controls/ButtonOutline.h"
#include "windows/controls/CDialog.h"

namespace {

constexpr int kGradientSteps = 64;
constexpr int kCornerEllipse = 10;
constexpr COLORREF kOutline = RGB(0, 0, 0);

// A straight line from `from` to `to` (horizontal or vertical) as GDI's cosmetic lines are laid
// down: the start point drawn, the end point left out, `pen.width` pixels across, centred (3
// covers -1..1, 2 covers -1..0). Filled as a rectangle, so the ends are the same in every
// direction and on every system (wide GDI pens end in round caps that reach past both ends).
void FillLine(HDC dc, const CXPButton::LinePen& pen, POINT from, POINT to) {
    const int lo = -(pen.width / 2), hi = (pen.width - 1) / 2;
    RECT line{};
    if (from.y == to.y) {
        const int s0 = from.x <= to.x ? from.x : to.x + 1;
        const int s1 = from.x <= to.x ? to.x : from.x + 1;
        line = {s0, from.y + lo, s1, from.y + hi + 1};
    } else if (from.x == to.x) {
        const int s0 = from.y <= to.y ? from.y : to.y + 1;
        const int s1 = from.y <= to.y ? to.y : from.y + 1;
        line = {from.x + lo, s0, from.x + hi + 1, s1};
    }
    if (line.right > line.left && line.bottom > line.top) ::FillRect(dc, &line, pen.brush);
}

// A memory DC that buffers the target's clip box and copies it back when it goes.
class COffscreenDC {
public:
    explicit COffscreenDC(HDC target) : m_target(target) {
        ::GetClipBox(target, &m_rect);
        m_dc = ::CreateCompatibleDC(target);
        POINT corners[2] = {{m_rect.left, m_rect.top}, {m_rect.right, m_rect.bottom}};
        ::LPtoDP(target, corners, 2);
        m_bitmap = ::CreateCompatibleBitmap(target, corners[1].x - corners[0].x,
                                            corners[1].y - corners[0].y);
        m_oldBitmap = static_cast<HBITMAP>(::SelectObject(m_dc, m_bitmap));
        ::SetMapMode(m_dc, ::GetMapMode(target));
        ::DPtoLP(target, corners, 2);
        m_rect = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
        ::SetWindowOrgEx(m_dc, m_rect.left, m_rect.top, nullptr);
        // The background the corners outside the rounding keep.
        ::SetBkColor(m_dc, ::GetBkColor(target));
        ::ExtTextOutW(m_dc, 0, 0, ETO_OPAQUE, &m_rect, nullptr, 0, nullptr);
    }
    ~COffscreenDC() {
        ::BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left,
                 m_rect.bottom - m_rect.top, m_dc, m_rect.left, m_rect.top, SRCCOPY);
        ::SelectObject(m_dc, m_oldBitmap);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
    }
    COffscreenDC(const COffscreenDC&) = delete;
    COffscreenDC& operator=(const COffscreenDC&) = delete;
    operator HDC() const { return m_dc; }

private:
    HDC m_target;
    RECT m_rect{};
    HDC m_dc;
    HBITMAP m_bitmap;
    HBITMAP m_oldBitmap;
};

}  // namespace

CXPButton::CXPButton()
    : m_fontText(::CreateFontW(14, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0,
                               0, L"Arial")),
      m_brushOutline(::CreateSolidBrush(kOutline)),
      m_penHoverLeft{3, ::CreateSolidBrush(RGB(250, 196, 88))},
      m_penHoverTop{2, ::CreateSolidBrush(RGB(252, 210, 121))},
      m_penHoverRight{3, ::CreateSolidBrush(RGB(251, 202, 106))},
      m_penHoverBottom{2, ::CreateSolidBrush(RGB(229, 151, 0))},
      m_penFocusLeft{3, ::CreateSolidBrush(RGB(153, 198, 252))},
      m_penFocusTop{2, ::CreateSolidBrush(RGB(162, 201, 255))},
      m_penFocusRight{3, ::CreateSolidBrush(RGB(162, 189, 252))},
      m_penFocusBottom{2, ::CreateSolidBrush(RGB(162, 201, 255))} {}

CXPButton::~CXPButton() {
    if (m_hWnd != nullptr) ::RemoveWindowSubclass(m_hWnd, SubclassProc, 0);
    for (HGDIOBJ object :
         {static_cast<HGDIOBJ>(m_fontText), static_cast<HGDIOBJ>(m_brushOutline),
          static_cast<HGDIOBJ>(m_penHoverLeft.brush), static_cast<HGDIOBJ>(m_penHoverTop.brush),
          static_cast<HGDIOBJ>(m_penHoverRight.brush), static_cast<HGDIOBJ>(m_penHoverBottom.brush),
          static_cast<HGDIOBJ>(m_penFocusLeft.brush), static_cast<HGDIOBJ>(m_penFocusTop.brush),
          static_cast<HGDIOBJ>(m_penFocusRight.brush),
          static_cast<HGDIOBJ>(m_penFocusBottom.brush)}) {
        if (object != nullptr) ::DeleteObject(object);
    }
}

bool CXPButton::SubclassDlgItem(int id, HWND dialog) {
    const HWND button = ::GetDlgItem(dialog, id);
    if (button == nullptr ||
        !::SetWindowSubclass(button, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = button;
    // OR-ed in: BS_PUSHBUTTON and BS_DEFPUSHBUTTON alike become BS_OWNERDRAW.
    const LONG_PTR style = ::GetWindowLongPtrW(button, GWL_STYLE);
    ::SetWindowLongPtrW(button, GWL_STYLE, style | BS_OWNERDRAW);
    ::InvalidateRect(button, nullptr, TRUE);
    return true;
}

bool CXPButton::IsDefaultButton() const {
    // Owner-drawn buttons are never told ODS_DEFAULT; the dialog still knows its default button.
    const HWND parent = ::GetParent(m_hWnd);
    if (parent == nullptr) return false;
    const LRESULT def = ::SendMessageW(parent, DM_GETDEFID, 0, 0);
    return HIWORD(def) == DC_HASDEFID && LOWORD(def) == static_cast<WORD>(::GetDlgCtrlID(m_hWnd));
}

LRESULT CALLBACK CXPButton::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<CXPButton*>(data);
    switch (message) {
        case kReflectDrawItem:
            self->DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_MOUSEMOVE:
            if (!self->m_bMouseTracked) {
                TRACKMOUSEEVENT track{};
                track.cbSize = sizeof track;
                track.dwFlags = TME_HOVER | TME_LEAVE;
                track.hwndTrack = hwnd;
                track.dwHoverTime = 1;
                self->m_bMouseTracked = ::TrackMouseEvent(&track) != FALSE;
            }
            break;
        case WM_MOUSEHOVER:
            self->m_bPointerOver = true;
            ::InvalidateRect(hwnd, nullptr, TRUE);
            return 1;
        case WM_MOUSELEAVE:
            self->m_bMouseTracked = false;
            self->m_bPointerOver = false;
            ::InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, SubclassProc, 0);
            self->m_hWnd = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void CXPButton::DrawItem(const DRAWITEMSTRUCT& item) {
    COffscreenDC dc(item.hDC);
    RECT r = item.rcItem;
    const std::wstring caption = WindowText(item.hwndItem);

    // A 1-pixel black outline with rounded corners around a white inside; the corners outside
    // the rounding keep the background. Its pixel runs are the core's, as on every system.
    for (const OutlineRun& run : RoundedOutline(r.left, r.top, r.right, r.bottom, kCornerEllipse)) {
        const RECT line{run.left, run.y, run.right, run.y + 1};
        ::FillRect(
            dc, &line,
            run.outline ? m_brushOutline : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    }

    m_bFocus = (item.itemState & ODS_FOCUS) != 0;
    m_bEmphasis = m_bFocus;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    if (pressed || (item.itemState & ODS_DEFAULT) != 0 || IsDefaultButton()) m_bEmphasis = true;

    ::InflateRect(&r, -::GetSystemMetrics(SM_CXEDGE), -::GetSystemMetrics(SM_CYEDGE));
    PaintGradient(dc, r);
    if (m_bFocus || m_bPointerOver) PaintBorderLines(dc, r);

    if (caption.empty()) return;
    const HGDIOBJ oldFont = ::SelectObject(dc, m_fontText);
    // A mnemonic's "&" is never shown, and "&&" goes as well.
    std::wstring shown = caption;
    shown.erase(std::remove(shown.begin(), shown.end(), L'&'), shown.end());
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
    int x = (r.left + r.right) / 2 - extent.cx / 2;
    int y = (r.top + r.bottom) / 2 - extent.cy / 2;
    if (pressed) {
        ++x;
        ++y;
    }
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    if ((item.itemState & ODS_DISABLED) != 0) {
        ::DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(shown.c_str()), 0, x, y,
                     extent.cx, extent.cy, DST_PREFIXTEXT | DSS_DISABLED);
    } else {
        ::TextOutW(dc, x, y, shown.c_str(), static_cast<int>(shown.size()));
    }
    ::SelectObject(dc, oldFont);
    ::SetBkMode(dc, oldMode);
}

void CXPButton::PaintGradient(HDC dc, const RECT& r) const {
    const int a = m_bPointerOver ? 4 : 3;
    const int b = m_bPointerOver ? (m_bEmphasis ? 3 : 5) : (m_bEmphasis ? 4 : 5);
    HBRUSH brushes[kGradientSteps];
    for (int i = 0; i < kGradientSteps; ++i) {
        brushes[i] = ::CreateSolidBrush(RGB(static_cast<std::uint8_t>(m_baseRed - i / a),
                                            static_cast<std::uint8_t>(m_baseGreen - i / a),
                                            static_cast<std::uint8_t>(m_baseBlue - i / b)));
    }
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    // Rows count from the button's own top, so the face never starts at pure white.
    if (h > 0) {
        for (int y = r.top; y < h + 2; ++y) {
            const RECT row{r.left, y, w + 2, y + 1};
            ::FillRect(dc, &row, brushes[std::min(63 * y / h, kGradientSteps - 1)]);
        }
    }
    for (HBRUSH brush : brushes) ::DeleteObject(brush);
}

void CXPButton::PaintBorderLines(HDC dc, const RECT& r) const {
    // Hovering wins over focus.
    const bool focusLook = m_bFocus && !m_bPointerOver;
    FillLine(dc, focusLook ? m_penFocusLeft : m_penHoverLeft, {r.left, r.bottom - 3},
             {r.left, r.top + 2});
    FillLine(dc, focusLook ? m_penFocusRight : m_penHoverRight, {r.right - 1, r.bottom - 3},
             {r.right - 1, r.top + 2});
    FillLine(dc, focusLook ? m_penFocusTop : m_penHoverTop, {r.left + 2, r.top},
             {r.right - 2, r.top});
    FillLine(dc, focusLook ? m_penFocusBottom : m_penHoverBottom, {r.left + 2, r.bottom},
             {r.right - 2, r.bottom});
}
