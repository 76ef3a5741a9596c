// Installs the real message box and password dialog as the fetcher's hooks.
#include "net/NetUi.h"

#include <QApplication>
#include <QUrl>

#include "controls/MessageBox.h"
#include "net/CPasswordDlg.h"
#include "net/NetHooks.h"

void InitNetUi() {
    SetNetMessageHook([](const std::string& text) {
        ShowMessage(QApplication::activeWindow(), QString::fromStdString(text),
                    QStringLiteral("Vantrel"), QMessageBox::Ok, QMessageBox::Warning);
    });
    SetCredentialsHook(
        [](const std::string& url, const std::string& realm) -> std::optional<NetCredentials> {
            const QUrl parsed(QString::fromStdString(url));
            CPasswordDlg dlg(parsed.host(), QString::fromStdString(realm),
                             QApplication::activeWindow());
            if (dlg.exec() != QDialog::Accepted) return std::nullopt;
            return NetCredentials{dlg.UserName().toStdString(), dlg.Password().toStdString()};
        });
}
