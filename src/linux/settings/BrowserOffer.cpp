// The question put to the user before browser windows are closed.
#include "linux/settings/BrowserOffer.h"

#include <QMessageBox>
#include <QString>

#include "linux/controls/MessageBox.h"
#include "platform/BrowserWindows.h"

void OfferToCloseBrowserWindows(QWidget* owner) {
    FindBrowserWindow();
    if (!g_bBrowserFound) return;
    const QString product = QStringLiteral("Vantrel");
    const QString text = product + QStringLiteral(
                                       " needs to close Microsoft Internet Explorer and Mozilla "
                                       "Firefox for changes to take effect. Would you like to "
                                       "close the windows now?");
    const auto answer = ShowMessage(owner, text, product, QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::Question);
    if (answer == QMessageBox::Yes) CloseBrowserWindows();
}
