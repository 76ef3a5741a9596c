// The settings dialog (template 137).
#include "linux/app/CSettingsDlg.h"

#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <string>

#include "core/settings/SettingsFile.h"
#include "core/settings/SettingsList.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "platform/prefs/CRegistryStore.h"
#include "platform/settings/SettingsFileIO.h"

namespace {
const char* const kProductKey = "Vantrel";
const char* const kParentKey = "Software";
const char* const kAddressValue = "m_IPAddress";

QIcon ExplanationIcon() {
    for (const char* name : {":/res/icon130.svg", ":/res/icon130.png", ":/res/icon130.ico"}) {
        if (QFile::exists(QString::fromLatin1(name))) return QIcon(QString::fromLatin1(name));
    }
    return {};
}
}  // namespace

CSettingsDlg::CSettingsDlg(QWidget* parent) : QDialog(parent) {
    CreateControls();
    LoadSettings();
    UpdateData(false);
}

CSettingsDlg::~CSettingsDlg() = default;

void CSettingsDlg::CreateControls() {
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(QStringLiteral("Vantrel Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(333), units.ToPixelsY(294));

    // Created in template order, which is also the tab order.
    auto* editing = new QGroupBox(QStringLiteral("Editing Sites"), this);
    editing->setObjectName(QStringLiteral("editingSitesGroup"));
    units.Place(editing, 7, 7, 319, 40);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("explanationIcon"));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (const QIcon picture = ExplanationIcon(); !picture.isNull())
        icon->setPixmap(picture.pixmap(32, 32));
    units.Place(icon, 15, 20, 21, 20);

    auto* explanation = new QLabel(
        QStringLiteral(
            "The following domains will be ignored by your web browser when Vantrel is active."),
        this);
    explanation->setObjectName(QStringLiteral("explanationText"));
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(explanation, 46, 25, 274, 11);
    // A wider font than the template's may need a second line: grow the text about its own
    // centre, which stays beside the icon and inside its group box.
    if (const int needed = explanation->heightForWidth(explanation->width());
        needed > explanation->height()) {
        const QRect placed = explanation->geometry();
        explanation->setGeometry(placed.x(), placed.center().y() - needed / 2, placed.width(),
                                 needed);
    }

    auto* domainsGroup = new QGroupBox(QStringLiteral("Domains to Hide Ads"), this);
    domainsGroup->setObjectName(QStringLiteral("domainsGroup"));
    units.Place(domainsGroup, 7, 54, 319, 170);

    m_editDomains = new QPlainTextEdit(this);
    SetControlId(m_editDomains, 1004);
    m_editDomains->setObjectName(QStringLiteral("domainList"));
    m_editDomains->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editDomains->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editDomains->setTabChangesFocus(true);  // Enter makes a new line; Tab still leaves the list
    units.Place(m_editDomains, 17, 69, 299, 149);

    auto* addressGroup = new QGroupBox(QStringLiteral("Local IP Address"), this);
    SetControlId(addressGroup, 1005);
    units.Place(addressGroup, 7, 228, 319, 31);

    m_editIPAddress = new QLineEdit(this);
    SetControlId(m_editIPAddress, 1006);
    m_editIPAddress->setObjectName(QStringLiteral("ipAddress"));
    units.Place(m_editIPAddress, 17, 239, 299, 14);

    m_btnOK = new CXPButton(QStringLiteral("OK"), this);
    SetControlId(m_btnOK, 1);
    m_btnOK->setObjectName(QStringLiteral("okButton"));
    m_btnOK->setDefault(true);
    units.Place(m_btnOK, 7, 267, 57, 20);

    m_btnCancel = new CXPButton(QStringLiteral("Cancel"), this);
    SetControlId(m_btnCancel, 2);
    m_btnCancel->setObjectName(QStringLiteral("cancelButton"));
    units.Place(m_btnCancel, 269, 267, 57, 20);

    connect(m_btnOK, &QPushButton::clicked, this, &CSettingsDlg::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CSettingsDlg::reject);
}

void CSettingsDlg::LoadSettings() {
    // A file that can be neither read nor created leaves the list empty; the dialog still opens.
    const auto lines = ReadSettingsLines(kSettingsFileName);
    m_domains = QString::fromStdString(lines ? DomainListOf(*lines) : std::string());

    // One character is no address; the default stays.
    const QString stored = QString::fromStdString(
        CRegistryStore().ReadValue(kProductKey, kAddressValue, HKEY_CURRENT_USER, kParentKey));
    if (stored.size() > 1) m_IPAddress = stored;
}

bool CSettingsDlg::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        m_editDomains->setPlainText(m_domains);
        m_editIPAddress->setText(m_IPAddress);
        return true;
    }
    m_domains = m_editDomains->toPlainText();
    m_IPAddress = m_editIPAddress->text();
    const std::string address = m_IPAddress.toStdString();
    if (const std::string problem = FindAddressProblem(address); !problem.empty()) {
        RefuseIPAddress(QString::fromStdString(problem), QStringLiteral("Vantrel"));
        return false;
    }
    if (const ListProblem problem = FindListProblem(m_domains.toStdString(), address);
        !problem.text.empty()) {
        RefuseDomains(QString::fromStdString(problem.text), problem.line);
        return false;
    }
    return true;
}

void CSettingsDlg::RefuseDomains(const QString& text, int line) {
    ShowMessage(this, text, QStringLiteral("Vantrel"), QMessageBox::Ok, QMessageBox::Warning);
    m_editDomains->setFocus(Qt::OtherFocusReason);
    // The line in question selected, so it can be corrected at once.
    if (const QTextBlock block = m_editDomains->document()->findBlockByNumber(line);
        block.isValid()) {
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        m_editDomains->setTextCursor(cursor);
    }
}

void CSettingsDlg::RefuseIPAddress(const QString& text, const QString& caption) {
    ShowMessage(this, text, caption, QMessageBox::Ok, QMessageBox::Warning);
    m_editIPAddress->setFocus(Qt::OtherFocusReason);
    m_editIPAddress->selectAll();
}

void CSettingsDlg::accept() {
    if (!UpdateData(true)) return;
    SaveSettings();
    QDialog::accept();
}

void CSettingsDlg::SaveSettings() const {
    const std::string address = m_IPAddress.toStdString();
    // Replaced as a whole, so an interrupted save never leaves half a list. A file that cannot be
    // written keeps its old lines; the address is remembered all the same.
    WriteSettingsText(SettingsTextFor(m_domains.toStdString(), address));

    CRegistryStore().WriteValue(kProductKey, kAddressValue, address, HKEY_CURRENT_USER);
}
