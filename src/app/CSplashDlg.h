// CSplashDlg
#pragma once

#include <QDialog>

class CSplashDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSplashDlg(QWidget* parent = nullptr);
    ~CSplashDlg() override;
};
