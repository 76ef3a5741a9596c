// The main dialog.
#pragma once

#include <QDialog>

class CVantrelDlg : public QDialog {
    Q_OBJECT

public:
    explicit CVantrelDlg(QWidget* parent = nullptr);
    ~CVantrelDlg() override;
};
