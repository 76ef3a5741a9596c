// The splash window over the main dialog: the product's picture for three seconds, or until
// the user clicks it or presses a key. Hidden, never shown again; it goes with its owner.
#pragma once

#include "windows/controls/CDialog.h"

class CSplashDlg : public CDialog {
public:
    // How long the picture shows without input.
    static constexpr UINT kShowMs = 3000;

    CSplashDlg();
    ~CSplashDlg() override;
    // Creates the window (template 192) owned by `owner` and starts its time.
    bool Popup(HWND owner);
    // Hides the window and gives the keyboard back to the owner; does nothing once hidden.
    void Dismiss();
    bool IsShown() const;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override { Dismiss(); }
    void OnCancel() override { Dismiss(); }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void StopKeyWatch();
};
