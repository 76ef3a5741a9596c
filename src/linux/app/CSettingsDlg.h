// The settings dialog: the list of domains to hide and the local IP address they are sent to.
// Saving rewrites the settings file and remembers the address; the hosts file is not touched.
#pragma once

#include <QDialog>
#include <QString>

class CXPButton;
class QLineEdit;
class QPlainTextEdit;

class CSettingsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSettingsDlg(QWidget* parent = nullptr);
    ~CSettingsDlg() override;

    // Saves and closes, unless the IP address is refused (the OK button, or Enter outside the
    // list).
    void accept() override;

private:
    void CreateControls();
    void LoadSettings();
    // Moves members into the controls, or (saveAndValidate) controls into members with the checks.
    bool UpdateData(bool saveAndValidate);
    void SaveSettings() const;
    void RefuseIPAddress(const QString& text, const QString& caption);
    void RefuseDomains(const QString& text, int line);

    CXPButton* m_btnOK = nullptr;
    CXPButton* m_btnCancel = nullptr;
    QPlainTextEdit* m_editDomains = nullptr;
    QLineEdit* m_editIPAddress = nullptr;

    QString m_domains;
    QString m_IPAddress = QStringLiteral("0.0.0.0");
};
