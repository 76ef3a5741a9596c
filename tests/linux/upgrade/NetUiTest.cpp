// What InitNetUi puts before the user for every fetch: a warning box captioned Vantrel, and the
// password dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "linux/upgrade/CPasswordDlg.h"
#include "linux/upgrade/NetUi.h"
#include "platform/net/CHttpFetcher.h"

namespace {
// Answers the password dialog once it is up.
void AnswerPasswordDialog(const QString& user, const QString& password, bool accept) {
    QTimer::singleShot(0, [=] {
        auto* dlg = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        FindControl<QLineEdit>(dlg, CPasswordDlg::kIdUser)->setText(user);
        FindControl<QLineEdit>(dlg, CPasswordDlg::kIdPassword)->setText(password);
        FindControl<QPushButton>(dlg, accept ? 1 : 2)->click();
    });
}
}  // namespace

TEST(NetUi, NoConnectionMessageIsAWarningBoxCaptionedVantrel) {
    InitNetUi();
    std::vector<MessageRequest> shown;
    SetMessageHook([&](const MessageRequest& r) {
        shown.push_back(r);
        return QMessageBox::Ok;
    });
    const FetchMessageSink sink = CHttpFetcher::SetMessageSink({});
    CHttpFetcher::SetCredentialsSource({});
    ASSERT_TRUE(sink);
    sink("Cannot open internet connection.");
    SetMessageHook({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Cannot open internet connection.");
    EXPECT_EQ(shown[0].caption, "Vantrel");
    EXPECT_EQ(shown[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
}

TEST(NetUi, PasswordDialogGivesCredentialsOrNothingOnCancel) {
    InitNetUi();
    const CredentialsSource ask = CHttpFetcher::SetCredentialsSource({});
    CHttpFetcher::SetMessageSink({});
    ASSERT_TRUE(ask);
    AnswerPasswordDialog("ann", "s3cret", true);
    const auto answer = ask("http://updates.example:8080/page", "Updates");
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->user, "ann");
    EXPECT_EQ(answer->password, "s3cret");

    AnswerPasswordDialog("ann", "x", false);
    EXPECT_FALSE(ask("http://updates.example/page", "").has_value());
}
