#include "windows/app/CVantrelApp.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "windows/app/CVantrelDlg.h"

bool CVantrelApp::InitInstance() {
    // The common controls of the manifest's version 6.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    CVantrelDlg dlg;
    dlg.DoModal();
    return false;
}
