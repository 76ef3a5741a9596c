#include "windows/CSettingsDlg.h"

#include "windows/resource.h"

CSettingsDlg::CSettingsDlg() : CDialog(IDD_SETTINGS) {}

BOOL CSettingsDlg::OnInitDialog() {
    m_btnOK.SubclassDlgItem(IDOK, m_hWnd);
    m_btnCancel.SubclassDlgItem(IDCANCEL, m_hWnd);
    return TRUE;
}
