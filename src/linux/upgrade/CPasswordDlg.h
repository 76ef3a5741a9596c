// Asks for a user name and password when a server answers 401.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    // Control ids of the dialog's template.
    static constexpr int kIdSite = 1001;
    static constexpr int kIdUser = 1002;
    static constexpr int kIdPassword = 1003;

    CPasswordDlg(const QString& site, const QString& realm, QWidget* parent = nullptr);

    QString UserName() const;
    QString Password() const;

private:
    QLineEdit* m_editUser;
    QLineEdit* m_editPassword;
};
