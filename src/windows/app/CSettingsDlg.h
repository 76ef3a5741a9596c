// The settings dialog (template 137): the list of domains to hide and the local IP address
// they are sent to. Saving rewrites the settings file and remembers the address; the hosts file
// is not touched.
#pragma once

#include <string>

#include "windows/controls/CDialog.h"
#include "windows/controls/CXPButton.h"

class CSettingsDlg : public CDialog {
public:
    CSettingsDlg();

protected:
    BOOL OnInitDialog() override;
    // Saves and closes, unless the address or the list is refused (OK, or Enter outside the
    // list).
    void OnOK() override;

private:
    void LoadSettings();
    // Members into the controls, or (saveAndValidate) controls into members with the checks.
    bool UpdateData(bool saveAndValidate);
    void SaveSettings() const;
    void Refuse(int control, const std::string& text, int line);

    CXPButton m_btnOK;
    CXPButton m_btnCancel;
    std::string m_domains;  // UTF-8, lines ending in LF
    std::string m_IPAddress = "0.0.0.0";
};
