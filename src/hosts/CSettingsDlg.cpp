// The settings dialog.
#include "hosts/CSettingsDlg.h"

CSettingsDlg::CSettingsDlg(QWidget* parent) : QDialog(parent) {}
CSettingsDlg::~CSettingsDlg() = default;
