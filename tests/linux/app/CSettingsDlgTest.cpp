// The settings dialog offscreen, each case in a fresh working directory and preferences store:
// its controls, what a save writes, and each refusal as the user meets it. The list's own rules
// (cleaning, twins, which lines pass) are the core's (tests/core).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "linux/app/CSettingsDlg.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "platform/prefs/CRegistryStore.h"

// Readable failures for the dialog's texts.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

const char* const kFile = "vantrel_settings.txt";

class SettingsDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_workDir.isValid());
        ASSERT_TRUE(m_configDir.isValid());
        m_previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_workDir.path()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_configDir.path());
        m_previousHook = SetMessageHook([this](const MessageRequest& request) {
            m_messages.push_back(request);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageHook(m_previousHook);
        QDir::setCurrent(m_previousDir);
    }

    static void WriteSettings(const std::string& content) {
        std::ofstream(kFile, std::ios::binary) << content;
    }
    static std::string ReadSettings() {
        std::stringstream content;
        content << std::ifstream(kFile, std::ios::binary).rdbuf();
        return content.str();
    }
    static std::string StoredAddress() {
        return CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Software");
    }
    static QPlainTextEdit* List(const CSettingsDlg& dlg) {
        return FindControl<QPlainTextEdit>(&dlg, 1004);
    }
    static QLineEdit* Address(const CSettingsDlg& dlg) {
        return FindControl<QLineEdit>(&dlg, 1006);
    }
    static void Key(QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier,
                        key == Qt::Key_Return ? "\r" : QString());
        QApplication::sendEvent(target, &press);
    }
    // Edits the dialog as a user would and presses OK.
    static void Save(CSettingsDlg& dlg, const QString& domains, const QString& address) {
        List(dlg)->setPlainText(domains);
        Address(dlg)->setText(address);
        FindControl<CXPButton>(&dlg, 1)->click();
    }

    QTemporaryDir m_workDir;
    QTemporaryDir m_configDir;
    QString m_previousDir;
    MessageHook m_previousHook;
    std::vector<MessageRequest> m_messages;
};

TEST_F(SettingsDlgTest, ShowsTheTemplate) {
    CSettingsDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Vantrel Settings");
    EXPECT_EQ(FindControl<CXPButton>(&dlg, 1)->text(), "OK");
    EXPECT_TRUE(FindControl<CXPButton>(&dlg, 1)->isDefault());
    EXPECT_EQ(FindControl<CXPButton>(&dlg, 2)->text(), "Cancel");
    EXPECT_NE(FindControl(&dlg, 1005), nullptr);
    EXPECT_EQ(List(dlg)->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    // The explanation is never cut off, whatever the font makes of its template width.
    const auto* explanation = dlg.findChild<QLabel*>("explanationText");
    ASSERT_NE(explanation, nullptr);
    EXPECT_GE(explanation->height(), explanation->heightForWidth(explanation->width()));
    // The whole layout stays inside the dialog.
    for (QWidget* child : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(dlg.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
}

TEST_F(SettingsDlgTest, OpensWithTheFilesDomainsAndAStoredAddressLongerThanOneCharacter) {
    {
        CSettingsDlg dlg;  // no file yet: it is made, empty
        EXPECT_EQ(List(dlg)->toPlainText(), "");
        EXPECT_EQ(Address(dlg)->text(), "0.0.0.0");
    }
    EXPECT_EQ(ReadSettings(), "");
    WriteSettings("127.0.0.1 a.example\r\n::1 a.example\r\n0.0.0.0 b.example\n");
    for (const auto& [stored, shown] : std::vector<std::pair<std::string, QString>>{
             {"127.0.0.1", "127.0.0.1"}, {"::", "::"}, {"7", "0.0.0.0"}, {"", "0.0.0.0"}}) {
        ASSERT_TRUE(
            CRegistryStore().WriteValue("Vantrel", "m_IPAddress", stored, HKEY_CURRENT_USER));
        CSettingsDlg dlg;
        EXPECT_EQ(List(dlg)->toPlainText(), "a.example\nb.example\n");
        EXPECT_EQ(Address(dlg)->text(), shown) << stored;
    }
}

TEST_F(SettingsDlgTest, SaveWritesTheListBehindTheAddressAndRemembersTheAddress) {
    WriteSettings("0.0.0.0 old.example\n");
    CSettingsDlg dlg;
    dlg.show();
    Save(dlg, "a.example\n\n\n b.example.\t\r\n   \nad_server.example \n\n", "127.0.0.1");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(ReadSettings(),
              "127.0.0.1 a.example\n::1 a.example\n"
              "127.0.0.1 b.example\n::1 b.example\n"
              "127.0.0.1 ad_server.example\n::1 ad_server.example\n");
    EXPECT_EQ(StoredAddress(), "127.0.0.1");
    CSettingsDlg again;
    EXPECT_EQ(List(again)->toPlainText(), "a.example\nb.example\nad_server.example\n");
    EXPECT_EQ(Address(again)->text(), "127.0.0.1");
}

// Each message once, as the user sees it: a warning over the dialog, which stays open with the
// field in question focused, and nothing saved. (Which input is refused, and the texts: the
// core's, tests/core/SettingsListTest.cpp.)
TEST_F(SettingsDlgTest, EachRefusalIsOneMessageAndSavesNothing) {
    const std::string installed = "0.0.0.0 a.example\n";
    struct Case {
        QString list, address, message;
        bool onAddress;
        QString selected;
    };
    const Case cases[] = {
        {"b.example", "0000.0000.0000.0", "Please enter no more than 15 characters.", true, {}},
        {"ok.example\r\n\t-bad.example. \r\n", "0.0.0.0",
         "Line 2, \"-bad.example.\", is not a domain name. Please enter one domain per line, such "
         "as pagead2.googlesyndication.com.",
         false, "\t-bad.example. "},
    };
    for (const Case& c : cases) {
        WriteSettings(installed);
        m_messages.clear();
        CSettingsDlg dlg;
        dlg.show();
        Save(dlg, c.list, c.address);
        ASSERT_EQ(m_messages.size(), 1u) << c.message.toStdString();
        EXPECT_EQ(m_messages[0].text, c.message);
        EXPECT_EQ(m_messages[0].caption, "Vantrel");
        EXPECT_EQ(m_messages[0].icon, QMessageBox::Warning);
        EXPECT_EQ(m_messages[0].owner, &dlg);
        EXPECT_TRUE(dlg.isVisible());
        if (c.onAddress) {
            EXPECT_EQ(dlg.focusWidget(), Address(dlg));
            EXPECT_EQ(Address(dlg)->text(), c.address) << "the field is never cut";
        } else {
            EXPECT_EQ(dlg.focusWidget(), List(dlg));
            EXPECT_EQ(List(dlg)->textCursor().selectedText(), c.selected);
        }
        EXPECT_EQ(ReadSettings(), installed);
        EXPECT_EQ(StoredAddress(), "");
    }
}

TEST_F(SettingsDlgTest, CancelEscapeAndCloseSaveNothing) {
    const std::string installed = "0.0.0.0 a.example\n";
    WriteSettings(installed);
    const std::vector<std::function<void(CSettingsDlg&)>> endings = {
        [](CSettingsDlg& dlg) { FindControl<CXPButton>(&dlg, 2)->click(); },
        [](CSettingsDlg& dlg) { Key(Address(dlg), Qt::Key_Escape); },
        [](CSettingsDlg& dlg) { dlg.close(); },
    };
    for (const auto& end : endings) {
        CSettingsDlg dlg;
        dlg.show();
        List(dlg)->setPlainText("b.example");
        Address(dlg)->setText("127.0.0.1");
        end(dlg);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    EXPECT_EQ(ReadSettings(), installed);
    EXPECT_EQ(StoredAddress(), "");
}

TEST_F(SettingsDlgTest, EnterBreaksTheLineInTheListAndSavesElsewhere) {
    WriteSettings("0.0.0.0 a.example");
    CSettingsDlg dlg;
    dlg.show();
    QPlainTextEdit* list = List(dlg);
    list->moveCursor(QTextCursor::End);
    Key(list, Qt::Key_Return);
    list->insertPlainText("b.example");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(list->toPlainText(), "a.example\n\nb.example");

    Key(Address(dlg), Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(ReadSettings(), "0.0.0.0 a.example\n:: a.example\n0.0.0.0 b.example\n:: b.example\n");
}

// A settings file that can be neither read nor written: the dialog still opens, closes on OK and
// remembers the address; a folder in the file's place is left alone.
TEST_F(SettingsDlgTest, AnUnusableSettingsFileStillLetsTheAddressBeSaved) {
    const auto saveAddress = [this](const QString& address) {
        CSettingsDlg dlg;
        dlg.show();
        EXPECT_EQ(List(dlg)->toPlainText(), "");
        Save(dlg, "a.example", address);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_TRUE(m_messages.empty());
        EXPECT_EQ(StoredAddress(), address.toStdString());
    };
    ASSERT_TRUE(QDir().mkdir(kFile));
    saveAddress("127.0.0.2");
    EXPECT_TRUE(QFileInfo(kFile).isDir());
    QTemporaryDir gone;  // a working directory that has vanished
    ASSERT_TRUE(QDir::setCurrent(gone.path()));
    ASSERT_TRUE(gone.remove());
    saveAddress("127.0.0.3");
}

}  // namespace
