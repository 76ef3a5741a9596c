// The settings dialog (template 137): the list of domains to hide and the local IP address
// they are sent to. Saving rewrites the settings file and remembers the address.
#pragma once

#include <string>

#include "windows/CDialog.h"
#include "windows/CXPButton.h"

class CSettingsDlg : public CDialog {
public:
    CSettingsDlg();

protected:
    BOOL OnInitDialog() override;

private:
    CXPButton m_btnOK;
    CXPButton m_btnCancel;
    std::string m_domains;
    std::string m_IPAddress = "0.0.0.0";
};
