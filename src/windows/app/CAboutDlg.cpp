#include "windows/app/CAboutDlg.h"

#include "windows/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

BOOL CAboutDlg::OnInitDialog() {
    // The same button look as every other window of the program.
    m_btnOK.SubclassDlgItem(IDOK, m_hWnd);
    return TRUE;
}
