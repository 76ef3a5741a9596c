// Installs the real message box and password dialog as what every fetch shows the user.
#include "linux/upgrade/NetUi.h"

#include <QApplication>
#include <QUrl>

#include "linux/controls/MessageBox.h"
#include "linux/upgrade/CPasswordDlg.h"
#include "platform/net/CHttpFetcher.h"

void InitNetUi() {
    CHttpFetcher::SetMessageSink([](const std::string& text) {
        ShowMessage(QApplication::activeWindow(), QString::fromStdString(text),
                    QStringLiteral("Vantrel"), QMessageBox::Ok, QMessageBox::Warning);
    });
    CHttpFetcher::SetCredentialsSource(
        [](const std::string& url, const std::string& realm) -> std::optional<FetchCredentials> {
            const QUrl parsed(QString::fromStdString(url));
            CPasswordDlg dlg(parsed.host(), QString::fromStdString(realm),
                             QApplication::activeWindow());
            if (dlg.exec() != QDialog::Accepted) return std::nullopt;
            return FetchCredentials{dlg.UserName().toStdString(), dlg.Password().toStdString()};
        });
}
