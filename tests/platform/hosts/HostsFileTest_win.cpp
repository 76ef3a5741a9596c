// The hosts block on Windows: the same bytes as on Linux with CR LF line ends, the same mends,
// and honest results when the file cannot be read or replaced.
#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"
#include "support/WinTestSupport.h"

namespace {

using HostsBytes = HostsDirTest;

const char kSettings[] =
    "0.0.0.0 pagead2.googlesyndication.com\r\n0.0.0.0 tpc.googlesyndication.com\r\n";
const char kBlock[] =
    "# Begin Vantrel\r\n0.0.0.0 pagead2.googlesyndication.com\r\n"
    "0.0.0.0 tpc.googlesyndication.com\r\n\r\n# End Vantrel";

TEST_F(HostsBytes, CrLfAndLfInputBothComeBackAsCrLfAroundTheBlock) {
    SetSettings(kSettings);
    for (const std::string input :
         {"127.0.0.1 localhost\r\n::1 localhost\r\n", "127.0.0.1 localhost\n::1 localhost\n",
          "127.0.0.1 localhost\r\n::1 localhost\n"}) {
        SetHosts(input);
        CHostsFile hosts;
        EXPECT_FALSE(hosts.IsBlockActive());
        ASSERT_TRUE(hosts.AddBlock());
        EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n::1 localhost\r\n" + std::string(kBlock));
        EXPECT_TRUE(hosts.IsBlockActive());
        // Reading drops every CR.
        EXPECT_EQ(hosts.ReadHostsFile().find('\r'), std::string::npos);
        ASSERT_TRUE(hosts.AddBlock());  // a second add writes nothing
        EXPECT_EQ(Count(Hosts(), "# Begin Vantrel"), 1u);
        ASSERT_TRUE(hosts.RemoveBlock());
        EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n::1 localhost\r\n");
        EXPECT_FALSE(hosts.IsBlockActive());
    }
    EXPECT_EQ(TempFiles(m_dir), std::vector<std::string>());
}

TEST_F(HostsBytes, LastLineWithoutBreakCarriesTheBeginMarkerAndComesBack) {
    SetSettings("0.0.0.0 a.googlesyndication.com");
    SetHosts("127.0.0.1 localhost\n10.0.0.1 nas");
    CHostsFile hosts;
    ASSERT_TRUE(hosts.AddBlock());
    EXPECT_EQ(Hosts(),
              "127.0.0.1 localhost\r\n10.0.0.1 nas# Begin Vantrel\r\n"
              "0.0.0.0 a.googlesyndication.com\r\n# End Vantrel");
    ASSERT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n10.0.0.1 nas");
}

TEST_F(HostsBytes, TextAfterABlockAtTheEndSurvivesAndOnlyTheFirstOfTwoBlocksGoes) {
    SetHosts("a\r\n# Begin Vantrel\r\nx\r\n# End Vantrel\r\nafter\r\n");
    CHostsFile hosts;
    ASSERT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), "a\r\n\r\nafter\r\n");

    SetHosts("a\n# Begin Vantrel\nx\n# End Vantrel\nb\n# Begin Vantrel\ny\n# End Vantrel");
    ASSERT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), "a\r\n\r\nb\r\n# Begin Vantrel\r\ny\r\n# End Vantrel");
    ASSERT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), "a\r\n\r\nb\r\n");
}

TEST_F(HostsBytes, EndBeforeBeginAndBeginWithoutEndAreLeftAlone) {
    SetSettings(kSettings);
    const std::string endFirst = "# End Vantrel\na\n# Begin Vantrel\nx\n";
    SetHosts(endFirst);
    CHostsFile hosts;
    EXPECT_FALSE(hosts.RemoveBlock());
    EXPECT_TRUE(hosts.AddBlock());  // a block is taken to be there: nothing to add
    EXPECT_EQ(Hosts(), endFirst);   // not even the line ends were touched

    // A foreign form of the begin text stops adding and is no block to remove.
    const std::string foreign = "#Begin Vantrel\n1.2.3.4 x\n";
    SetHosts(foreign);
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), foreign);
}

TEST_F(HostsBytes, ASettingsLineHoldingTheEndMarkerAddsNothing) {
    SetSettings("0.0.0.0 a.example\r\n# End Vantrel\r\n0.0.0.0 b.example\r\n");
    SetHosts("127.0.0.1 localhost\n");
    CHostsFile hosts;
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n");
}

TEST_F(HostsBytes, MissingHostsFileIsNeverCreatedAndMissingSettingsGiveOneEmptyLine) {
    CHostsFile hosts;
    EXPECT_EQ(hosts.GetHostsPath(), "");
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_TRUE(hosts.RemoveBlock());
    EXPECT_FALSE(Exists(m_hosts));
    EXPECT_FALSE(Exists(m_dir + "\\vantrel_settings.txt"));  // untouched without a hosts file

    SetHosts("");
    ASSERT_TRUE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "# Begin Vantrel\r\n\r\n# End Vantrel");
    EXPECT_EQ(Slurp(m_dir + "\\vantrel_settings.txt"), "");  // created empty
}

TEST_F(HostsBytes, AFileThatCannotBeReadOrReplacedKeepsItsBytesAndSaysSo) {
    SetSettings(kSettings);
    SetHosts("127.0.0.1 localhost\r\n");
    CHostsFile hosts;
    {
        // Another program holds the file open without sharing: it can be neither read nor
        // replaced, and adding must not make a file of the block alone.
        const HANDLE held = ::CreateFileW(Utf8ToWide(m_hosts).c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Unreadable);
        EXPECT_FALSE(hosts.AddBlock());
        EXPECT_FALSE(hosts.WriteHostsFile("x\n"));
        ::CloseHandle(held);
    }
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");

    // A read-only file is not replaced, and the result says so.
    ASSERT_TRUE(::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");
    ::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(TempFiles(m_dir), std::vector<std::string>());
}

TEST_F(HostsBytes, TheLabelInAnyCaseAnywhereMeansHidden) {
    SetHosts("# my own note: PageAd2.GoogleSyndication.com\r\n");
    EXPECT_TRUE(CHostsFile().IsBlockActive());
    SetHosts("# googlesyndicatio n\r\n");
    EXPECT_FALSE(CHostsFile().IsBlockActive());
}

TEST(HostsPath, TheDefaultIsTheSystemFoldersHostsFile) {
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(DefaultHostsPath(), WideToUtf8(system) + "\\drivers\\etc\\hosts");
    SetEnv(L"VANTREL_HOSTS_FILE", "");
    EXPECT_EQ(ConfiguredHostsPath(), DefaultHostsPath());
    SetEnv(L"VANTREL_HOSTS_FILE", "C:\\elsewhere\\hosts");
    EXPECT_EQ(ConfiguredHostsPath(), "C:\\elsewhere\\hosts");
    SetEnv(L"VANTREL_HOSTS_FILE", "");
}

}  // namespace
