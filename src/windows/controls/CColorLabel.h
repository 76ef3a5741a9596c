// A static text whose colour the program sets at run time; it answers the colour query the
// static control makes before it paints (WM_CTLCOLORSTATIC, reflected by the dialog).
#pragma once

#include <windows.h>

class CColorLabel {
public:
    CColorLabel();
    ~CColorLabel();
    CColorLabel(const CColorLabel&) = delete;
    CColorLabel& operator=(const CColorLabel&) = delete;

    bool SubclassDlgItem(int id, HWND dialog);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Stores the colour and repaints the label at once.
    CColorLabel& SetLabelColor(COLORREF color);
    COLORREF GetLabelColor() const { return m_textColor; }

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);

    HWND m_hWnd = nullptr;
    COLORREF m_textColor;
    HBRUSH m_backBrush;
    LOGFONTW m_logFont{};
    HFONT m_fontText;
};
