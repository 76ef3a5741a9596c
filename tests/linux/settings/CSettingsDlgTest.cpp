// The settings dialog offscreen, each case in a fresh working directory and preferences store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/hosts/HostsLine.h"
#include "linux/app/CSettingsDlg.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/prefs/CRegistryStore.h"
#include "platform/settings/SettingsFileIO.h"

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
        std::ifstream in(kFile, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
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
    static void Press(const CSettingsDlg& dlg, int id) {
        FindControl<CXPButton>(&dlg, id)->click();
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
        Press(dlg, 1);
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
    for (int id : {1, 2, 1004, 1005, 1006}) EXPECT_NE(FindControl(&dlg, id), nullptr) << id;
    EXPECT_EQ(FindControl<CXPButton>(&dlg, 1)->text(), "OK");
    EXPECT_TRUE(FindControl<CXPButton>(&dlg, 1)->isDefault());
    EXPECT_EQ(FindControl<CXPButton>(&dlg, 2)->text(), "Cancel");
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

TEST_F(SettingsDlgTest, OpensTheInstalledListOneDomainPerLine) {
    WriteSettings(
        "0.0.0.0 pagead2.googlesyndication.com\r\n"
        "0.0.0.0 googleads.g.doubleclick.net\r\n"
        "bare-domain.example\n"
        "0.0.0.0 \n"
        "0.0.0.0 two words\n");
    CSettingsDlg dlg;
    EXPECT_EQ(List(dlg)->toPlainText(),
              "pagead2.googlesyndication.com\n"
              "googleads.g.doubleclick.net\n"
              "bare-domain.example\n"
              "0.0.0.0 \n"
              "two words\n");
    EXPECT_EQ(Address(dlg)->text(), "0.0.0.0");
}

TEST_F(SettingsDlgTest, TwinLinesAreNotDomainsOfTheirOwn) {
    // The installed file: each of the 13 domains with its IPv4 and its IPv6 line, shown once.
    std::ifstream installed(std::string(std::getenv("VANTREL_TEST_SOURCE_DIR")) +
                            "/res/vantrel_settings.txt");
    std::stringstream content;
    content << installed.rdbuf();
    WriteSettings(content.str());
    {
        CSettingsDlg dlg;
        QStringList shown = List(dlg)->toPlainText().split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(shown.size(), 13);
        EXPECT_EQ(shown.removeDuplicates(), 0);
        EXPECT_EQ(shown.first(), "pagead2.googlesyndication.com");
    }
    // Only the line right after its twin is one: a lone or a repeated line is still shown.
    WriteSettings(":: a.example\n0.0.0.0 b.example\n::1 b.example\n0.0.0.0 b.example\n");
    CSettingsDlg dlg;
    EXPECT_EQ(List(dlg)->toPlainText(), "a.example\nb.example\nb.example\nb.example\n");
}

TEST_F(SettingsDlgTest, OneCharacterLineJoinsTheNext) {
    WriteSettings("0.0.0.0 a.example\nx\n0.0.0.0 b.example\n");
    CSettingsDlg dlg;
    EXPECT_EQ(List(dlg)->toPlainText(), "a.example\nxb.example\n");
}

TEST_F(SettingsDlgTest, MissingFileIsCreatedEmptyAndStoredAddressIsUsedWhenLongerThanOneCharacter) {
    {
        CSettingsDlg dlg;
        EXPECT_EQ(List(dlg)->toPlainText(), "");
        EXPECT_EQ(Address(dlg)->text(), "0.0.0.0");
    }
    EXPECT_TRUE(QFile::exists(kFile));
    EXPECT_EQ(ReadSettings(), "");

    const std::vector<std::pair<std::string, QString>> cases = {{"127.0.0.1", "127.0.0.1"},
                                                                {"::", "::"},
                                                                {"7", "0.0.0.0"},
                                                                {"-", "0.0.0.0"},
                                                                {"", "0.0.0.0"}};
    for (const auto& [stored, shown] : cases) {
        ASSERT_TRUE(
            CRegistryStore().WriteValue("Vantrel", "m_IPAddress", stored, HKEY_CURRENT_USER));
        CSettingsDlg dlg;
        EXPECT_EQ(Address(dlg)->text(), shown) << stored;
    }
}

TEST_F(SettingsDlgTest, SaveWritesEachNonEmptyLineBehindTheAddress) {
    WriteSettings("0.0.0.0 old.example\n");
    CSettingsDlg dlg;
    dlg.show();
    // Blanks around a domain and one trailing dot go; lines left empty vanish.
    Save(dlg, "a.example\n\n\n b.example.\t\r\n   \nad_server.example \n\n", "127.0.0.1");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(ReadSettings(),
              "127.0.0.1 a.example\n::1 a.example\n"
              "127.0.0.1 b.example\n::1 b.example\n"
              "127.0.0.1 ad_server.example\n::1 ad_server.example\n");
    EXPECT_EQ(StoredAddress(), "127.0.0.1");
    // What was saved is what the hosts block takes.
    EXPECT_EQ(CheckBlockLines(*ReadSettingsLines()).verdict, BlockLinesCheck::Ok);

    // The next opening shows what was saved, each domain once.
    CSettingsDlg again;
    EXPECT_EQ(List(again)->toPlainText(), "a.example\nb.example\nad_server.example\n");
    EXPECT_EQ(Address(again)->text(), "127.0.0.1");
}

TEST_F(SettingsDlgTest, LineWithoutBlankRoundTripsBehindTheAddress) {
    WriteSettings("bare-domain.example\n");
    CSettingsDlg dlg;
    Press(dlg, 1);
    EXPECT_EQ(ReadSettings(), "0.0.0.0 bare-domain.example\n:: bare-domain.example\n");
}

TEST_F(SettingsDlgTest, EmptyListSavesAnEmptyFile) {
    WriteSettings("0.0.0.0 a.example\n");
    CSettingsDlg dlg;
    Save(dlg, "\n\r\n", "0.0.0.0");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(ReadSettings(), "");
    EXPECT_EQ(StoredAddress(), "0.0.0.0");
}

TEST_F(SettingsDlgTest, RefusedAddressShowsOneMessageAndSavesNothing) {
    const std::string installed = "0.0.0.0 a.example\n";
    struct Case {
        QString address;
        QString message;
    };
    const QString tooLong = "Please enter no more than 15 characters.";
    const QString notAnAddress = "Please enter an IP address such as 0.0.0.0 or 127.0.0.1.";
    // One of each message; the address rules themselves are the core's (SettingsListTest).
    const std::vector<Case> cases = {
        {"0000.0000.0000.0", tooLong},
        {"abc", notAnAddress},
        // Well-formed, but not this PC: the block may only send names here.
        {"203.0.113.66", notAnAddress},
    };
    for (const Case& c : cases) {
        WriteSettings(installed);
        m_messages.clear();
        CSettingsDlg dlg;
        dlg.show();
        Save(dlg, "b.example\n", c.address);
        ASSERT_EQ(m_messages.size(), 1u) << c.address.toStdString();
        EXPECT_EQ(m_messages[0].text, c.message);
        EXPECT_EQ(m_messages[0].caption, "Vantrel");
        EXPECT_EQ(m_messages[0].icon, QMessageBox::Warning);
        EXPECT_EQ(m_messages[0].owner, &dlg);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.focusWidget(), Address(dlg));
        EXPECT_EQ(Address(dlg)->text(), c.address) << "the field is never cut";
        EXPECT_EQ(ReadSettings(), installed);
        EXPECT_EQ(StoredAddress(), "");
    }
}

TEST_F(SettingsDlgTest, AcceptsTheLocalAddresses) {
    // Each with the other family's twin, so lookups of either family stay local.
    const std::pair<std::string, std::string> addresses[] = {{"127.9.8.7", "::1"},
                                                             {"::", "0.0.0.0"}};
    for (const auto& [address, twin] : addresses) {
        CSettingsDlg dlg;
        Save(dlg, "a.example", QString::fromStdString(address));
        EXPECT_TRUE(m_messages.empty()) << address;
        EXPECT_EQ(ReadSettings(), address + " a.example\n" + twin + " a.example\n");
        EXPECT_EQ(List(CSettingsDlg())->toPlainText(), "a.example\n") << address;
        EXPECT_EQ(StoredAddress(), address);
    }
}

TEST_F(SettingsDlgTest, RefusesWhatTheHostsBlockWouldRefuseNamingTheFirstBadLine) {
    const std::string installed = "0.0.0.0 a.example\n";
    struct Case {
        QString list;
        QString message;
        QString selected;
    };
    const std::vector<Case> cases = {
        {"good.example\n\nads example.com\nx;y.example\n",
         "Line 3, \"ads example.com\", is not a domain name. Please enter one domain per line, "
         "such as pagead2.googlesyndication.com.",
         "ads example.com"},
        {"ok.example\r\n\t-bad.example. \r\n",
         "Line 2, \"-bad.example.\", is not a domain name. Please enter one domain per line, such "
         "as pagead2.googlesyndication.com.",
         "\t-bad.example. "},
    };
    for (const Case& c : cases) {
        WriteSettings(installed);
        m_messages.clear();
        CSettingsDlg dlg;
        dlg.show();
        Save(dlg, c.list, "0.0.0.0");
        ASSERT_EQ(m_messages.size(), 1u) << c.list.toStdString();
        EXPECT_EQ(m_messages[0].text, c.message);
        EXPECT_EQ(m_messages[0].caption, "Vantrel");
        EXPECT_EQ(m_messages[0].owner, &dlg);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.focusWidget(), List(dlg));
        EXPECT_EQ(List(dlg)->textCursor().selectedText(), c.selected);
        EXPECT_EQ(ReadSettings(), installed);
        EXPECT_EQ(StoredAddress(), "");
    }
}

TEST_F(SettingsDlgTest, AListLongerThanTheBlockMayHoldIsRefused) {
    // Each domain takes two lines (its IPv6 twin), so 2,048 domains fill the block.
    QString list;
    for (int i = 0; i < 2048; ++i) list += QStringLiteral("d%1.example\n").arg(i);
    CSettingsDlg dlg;
    dlg.show();
    Save(dlg, list + "one-more.example", "0.0.0.0");
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, "The list is too long. Please enter no more than 2048 domains.");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.focusWidget(), List(dlg));
    EXPECT_EQ(ReadSettings(), "");

    Save(dlg, list, "0.0.0.0");  // exactly as many as the block may hold
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(CheckBlockLines(*ReadSettingsLines()).verdict, BlockLinesCheck::Ok);
}

TEST_F(SettingsDlgTest, CancelEscapeAndCloseSaveNothing) {
    const std::string installed = "0.0.0.0 a.example\n";
    WriteSettings(installed);
    const std::vector<std::function<void(CSettingsDlg&)>> endings = {
        [](CSettingsDlg& dlg) { Press(dlg, 2); },
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

// What the hosts block holds between its markers.
std::string BlockLines(const std::string& hosts) {
    const std::string begin = "# Begin Vantrel\n";
    const std::size_t from = hosts.find(begin);
    const std::size_t to = hosts.find("# End Vantrel");
    if (from == std::string::npos || to == std::string::npos) return "<no block>";
    return hosts.substr(from + begin.size(), to - from - begin.size());
}

TEST_F(SettingsDlgTest, SavedListReachesTheHostsBlockOnlyAtTheNextToggle) {
    const std::string hostsPath = m_workDir.filePath("hosts").toStdString();
    std::ofstream(hostsPath) << "127.0.0.1 localhost\n";
    setenv("VANTREL_HOSTS_FILE", hostsPath.c_str(), 1);
    const auto readHosts = [&] {
        std::ifstream in(hostsPath, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    };

    WriteSettings("0.0.0.0 old.example\n");
    ASSERT_TRUE(CHostsFile().AddBlock());
    const std::string before = readHosts();
    ASSERT_EQ(BlockLines(before), "0.0.0.0 old.example\n\n");

    CSettingsDlg dlg;
    Save(dlg, "new.example\nother.example", "127.0.0.2");
    EXPECT_EQ(readHosts(), before) << "saving never touches the hosts file";

    ASSERT_TRUE(CHostsFile().RemoveBlock());
    ASSERT_TRUE(CHostsFile().AddBlock());
    EXPECT_EQ(BlockLines(readHosts()),
              "127.0.0.2 new.example\n::1 new.example\n127.0.0.2 other.example\n::1 "
              "other.example\n\n");

    // An empty list: the next block holds the one empty line of an empty file.
    CSettingsDlg emptied;
    Save(emptied, "", "127.0.0.2");
    ASSERT_TRUE(CHostsFile().RemoveBlock());
    ASSERT_TRUE(CHostsFile().AddBlock());
    EXPECT_EQ(BlockLines(readHosts()), "\n");
    unsetenv("VANTREL_HOSTS_FILE");
}

TEST_F(SettingsDlgTest, UnusableSettingsFileStillOpensAndRemembersTheAddress) {
    // A working directory that has vanished: the file can be neither opened nor created.
    QTemporaryDir gone;
    ASSERT_TRUE(QDir::setCurrent(gone.path()));
    ASSERT_TRUE(gone.remove());
    CSettingsDlg dlg;
    dlg.show();
    EXPECT_EQ(List(dlg)->toPlainText(), "");
    Save(dlg, "a.example", "127.0.0.2");
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(StoredAddress(), "127.0.0.2");
}

TEST_F(SettingsDlgTest, SettingsNameTakenByADirectoryIsLeftAlone) {
    ASSERT_TRUE(QDir().mkdir(kFile));
    CSettingsDlg dlg;
    dlg.show();
    Save(dlg, "a.example", "127.0.0.3");
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(QFileInfo(kFile).isDir());
    EXPECT_EQ(StoredAddress(), "127.0.0.3");
}

}  // namespace
