// The settings dialog: the list of domains to hide and the local IP address they are sent to.
// Saving rewrites the settings file and remembers the address; the hosts file is not touched.
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

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

// The settings file's text for a list: "address blank domain" and a line break for every domain
// of the list (DomainsOfList: blanks around it and a trailing dot dropped, empty lines vanish),
// each followed by the same line with the twin address.
std::string SettingsTextFor(const QString& domains, const std::string& address);

struct ListProblem {
    QString text;   // empty when the list may be saved
    int line = -1;  // the list's line (from 0) to show, or -1
};
// Why a list may not be saved with that address: the first line that is not a domain name, or
// more lines for the settings file than the hosts block may hold.
ListProblem FindListProblem(const QString& domains, const std::string& address);
