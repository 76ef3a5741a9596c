// A dialog made from a resource template, modal or modeless, with the commands and messages
// routed to virtual handlers. The parent's owner-draw and colour messages are handed back to the
// control they are about (reflection), so a control class draws and colours itself.
#pragma once

#include <windows.h>

#include <string>

// The reflected forms of WM_DRAWITEM and WM_CTLCOLORSTATIC, sent by a dialog to its control.
inline constexpr UINT kReflectDrawItem = WM_APP + 0x2B;
inline constexpr UINT kReflectCtlColorStatic = WM_APP + 0x38;

class CDialog {
public:
    explicit CDialog(int templateId);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally, owned by `owner` (may be null); returns what ended it.
    INT_PTR DoModal(HWND owner = nullptr);
    // Creates the window modeless, owned by `owner`.
    bool Create(HWND owner);
    // Ends a modal dialog; a modeless one is hidden.
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    std::wstring GetDlgItemText(int id) const;
    void SetDlgItemText(int id, const std::wstring& text) const;

    // Centres the window over its visible owner, else on the screen's work area.
    void CenterWindow(bool onScreen = false) const;

    // The module whose resources the dialogs use.
    static HINSTANCE ResourceModule();

protected:
    // After the controls exist. TRUE lets the system give the focus to the first tab stop.
    virtual BOOL OnInitDialog() { return TRUE; }
    // IDOK: the default button, or Enter. Ends the dialog with IDOK unless overridden.
    virtual void OnOK() { EndDialog(IDOK); }
    // IDCANCEL: the Cancel button, Escape or the close box.
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Every other WM_COMMAND; false when not handled.
    virtual bool OnCommand(WORD /*id*/, WORD /*code*/) { return false; }
    // Any message before the default handling; set `handled` to give the dialog's answer.
    virtual INT_PTR OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/,
                              bool& /*handled*/) {
        return 0;
    }
    // The window is being destroyed.
    virtual void OnDestroy() {}

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    int m_nTemplate;
    bool m_bModal = false;
};

// A whole window text as UTF-16.
std::wstring WindowText(HWND hwnd);
