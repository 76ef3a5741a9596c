// Installs the real message box and password dialog as the fetcher's hooks.
#include "linux/net/NetUi.h"

#include <QApplication>
#include <QUrl>

#include "linux/controls/MessageBox.h"
#include "linux/net/CPasswordDlg.h"
#include "linux/net/NetHooks.h"

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
