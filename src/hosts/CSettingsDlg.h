// The settings dialog: the list of domains to hide and the local IP address.
#pragma once

#include <QDialog>

class CSettingsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSettingsDlg(QWidget* parent = nullptr);
    ~CSettingsDlg() override;
};
