// The About box (template 100): the product's name, version and what it does.
#pragma once

#include "windows/CDialog.h"
#include "windows/CXPButton.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    BOOL OnInitDialog() override;

private:
    CXPButton m_btnOK;
};
