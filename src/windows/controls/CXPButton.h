// The push button that gives every command button of the program the same look: a rounded
// black outline, a white-to-grey-blue face, orange lines under the pointer, blue with focus, the
// caption centred in Arial. Attached to a template's push button, it makes it owner drawn.
#pragma once

#include <windows.h>

#include <cstdint>

class CXPButton {
public:
    CXPButton();
    ~CXPButton();
    CXPButton(const CXPButton&) = delete;
    CXPButton& operator=(const CXPButton&) = delete;

    // Takes over the button `id` of `dialog`: owner drawing and hover tracking.
    bool SubclassDlgItem(int id, HWND dialog);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Paints the whole button for the item state in `item` (the dialog reflects WM_DRAWITEM).
    void DrawItem(const DRAWITEMSTRUCT& item);

    // An inner border line's width and colour.
    struct LinePen {
        int width;
        HBRUSH brush;
    };

    // Hover tracking, read by tests.
    bool IsPointerOver() const { return m_bPointerOver; }
    bool IsMouseTracked() const { return m_bMouseTracked; }

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    void PaintGradient(HDC dc, const RECT& r) const;
    void PaintBorderLines(HDC dc, const RECT& r) const;
    bool IsDefaultButton() const;

    HWND m_hWnd = nullptr;
    HFONT m_fontText;
    HBRUSH m_brushOutline;
    LinePen m_penHoverLeft;
    LinePen m_penHoverTop;
    LinePen m_penHoverRight;
    LinePen m_penHoverBottom;
    LinePen m_penFocusLeft;
    LinePen m_penFocusTop;
    LinePen m_penFocusRight;
    LinePen m_penFocusBottom;
    bool m_bPointerOver = false;
    bool m_bMouseTracked = false;
    bool m_bFocus = false;
    bool m_bEmphasis = false;
    std::uint16_t m_baseRed = 255;
    std::uint16_t m_baseGreen = 255;
    std::uint16_t m_baseBlue = 255;
};
