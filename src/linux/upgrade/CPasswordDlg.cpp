// The small credentials dialog shown on a 401 answer.
#include "linux/upgrade/CPasswordDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "linux/controls/DialogUnits.h"

CPasswordDlg::CPasswordDlg(const QString& site, const QString& realm, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("passwordDlg"));
    setWindowTitle(QStringLiteral("Enter Network Password"));
    const DialogUnits du;
    setFont(DialogUnits::DialogFont());

    auto* prompt = new QLabel(QStringLiteral("Please type your user name and password."), this);
    du.Place(prompt, 7, 7, 200, 10);

    QString where = QStringLiteral("Site: ") + site;
    if (!realm.isEmpty()) where += QStringLiteral("\nRealm: ") + realm;
    auto* siteLabel = new QLabel(where, this);
    siteLabel->setObjectName(QStringLiteral("site"));
    siteLabel->setTextFormat(Qt::PlainText);
    SetControlId(siteLabel, kIdSite);
    du.Place(siteLabel, 7, 20, 200, 18);

    auto* userLabel = new QLabel(QStringLiteral("&User name:"), this);
    du.Place(userLabel, 7, 44, 50, 8);
    m_editUser = new QLineEdit(this);
    m_editUser->setObjectName(QStringLiteral("userName"));
    SetControlId(m_editUser, kIdUser);
    du.Place(m_editUser, 60, 42, 147, 12);
    userLabel->setBuddy(m_editUser);

    auto* passwordLabel = new QLabel(QStringLiteral("&Password:"), this);
    du.Place(passwordLabel, 7, 62, 50, 8);
    m_editPassword = new QLineEdit(this);
    m_editPassword->setObjectName(QStringLiteral("password"));
    m_editPassword->setEchoMode(QLineEdit::Password);
    SetControlId(m_editPassword, kIdPassword);
    du.Place(m_editPassword, 60, 60, 147, 12);
    passwordLabel->setBuddy(m_editPassword);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    SetControlId(ok, 1);
    du.Place(ok, 103, 80, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    SetControlId(cancel, 2);
    du.Place(cancel, 157, 80, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    const QRect frame = du.ToPixels(0, 0, 214, 101);
    setFixedSize(frame.size());
    m_editUser->setFocus();
}

QString CPasswordDlg::UserName() const {
    return m_editUser->text();
}

QString CPasswordDlg::Password() const {
    return m_editPassword->text();
}
