// The About box (template 100): the product's name, version and what it does.
#pragma once

#include "windows/controls/CDialog.h"
#include "windows/controls/CXPButton.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    BOOL OnInitDialog() override;

private:
    CXPButton m_btnOK;
};
