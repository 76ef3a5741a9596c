// "vantrel.exe -uninstall" on the Wine prefix's own hosts file, the one below
// C:\windows\system32 (never the machine's /etc/hosts), whatever VANTREL_HOSTS_FILE says: the
// block goes, no window, and the exit status says whether a block is left and what would remove
// it.
#include "core/hosts/HostsText.h"
#include "platform/hosts/HostsFileIO.h"
#include "support/WinTestSupport.h"

namespace {

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override {
        m_hosts = DefaultHostsPath();
        ASSERT_NE(m_hosts.find("\\drivers\\etc\\hosts"), std::string::npos) << m_hosts;
        m_saved = Slurp(m_hosts);
        ASSERT_NE(m_saved, "<missing>");
    }
    void TearDown() override {
        ::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_NORMAL);
        Spit(m_hosts, m_saved);
    }

    static ChildRun RunVantrel(const std::string& arguments) {
        return RunChild(Quoted(ProgramDir() + "\\..\\..\\src\\windows\\vantrel.exe") + " " +
                        arguments);
    }

    std::string m_hosts;
    std::string m_saved;
};

TEST_F(Uninstall, RemovesTheBlockFromTheSystemsHostsFile) {
    const std::string mine = "127.0.0.1 localhost\r\n::1 localhost\r\n";
    Spit(m_hosts, mine);
    ASSERT_TRUE(AddBlockAt(m_hosts, {"0.0.0.0 pagead2.googlesyndication.com", ""}).Done());
    ASSERT_NE(Slurp(m_hosts), mine);
    // The program runs elevated with the user's environment: a file named there is not its.
    const std::string noHostsFile = NoHostsFile();
    const std::string decoy = noHostsFile + "-decoy";
    const std::string decoyBytes = "127.0.0.1 decoy\n# Begin Vantrel\n0.0.0.0 x\n# End Vantrel";
    Spit(decoy, decoyBytes);
    SetEnv(L"VANTREL_HOSTS_FILE", decoy);

    const ChildRun run = RunVantrel("-uninstall");
    SetEnv(L"VANTREL_HOSTS_FILE", noHostsFile);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(Slurp(m_hosts), mine);
    EXPECT_EQ(Slurp(decoy), decoyBytes);
    ::DeleteFileW(Utf8ToWide(decoy).c_str());

    // Nothing to remove: the file is not rewritten, its LF line ends stay.
    Spit(m_hosts, "127.0.0.1 localhost\n");
    const ChildRun again = RunVantrel("-uninstall");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(Slurp(m_hosts), "127.0.0.1 localhost\n");
}

// 2: a block that no second run removes, with the lines to delete by hand and the file; 1: a
// file that cannot be written now, with the reason. (A second block, reported alike: the shared
// uninstall logic's test, tests/platform/hosts/UninstallTest.cpp.)
TEST_F(Uninstall, EachBlockThatStaysIsReportedWithWhatWouldRemoveIt) {
    const std::string damaged = "127.0.0.1 localhost\n# Begin Vantrel\n0.0.0.0 x.example\n";
    Spit(m_hosts, damaged);
    const ChildRun run = RunVantrel("-uninstall");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.error, "vantrel: the block in " + m_hosts +
                             " is damaged: line 2 is \"# Begin Vantrel\", but no \"# End Vantrel\" "
                             "follows it, so Vantrel cannot tell where its block ends and left "
                             "the file as it is. Edit the file as an administrator: delete line 2, "
                             "and line 3 if Vantrel added it (an ad domain sent to a local "
                             "address), then save it.\r\n");
    EXPECT_EQ(Slurp(m_hosts), damaged);

    // A read-only file: nothing is written, and a run once that is mended may succeed.
    const std::string first = "# Begin Vantrel\r\n0.0.0.0 a.example\r\n# End Vantrel\r\n";
    Spit(m_hosts, "127.0.0.1 localhost\r\n" + first);
    ASSERT_TRUE(::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_READONLY));
    const ChildRun locked = RunVantrel("-uninstall");
    EXPECT_EQ(locked.exitCode, 1u);
    EXPECT_EQ(locked.error, "vantrel: the block is still in " + m_hosts +
                                ": the file could not be written. Close any program that has it "
                                "open (a security program, say), make sure it is not read-only, "
                                "and try again.\r\n");
    EXPECT_EQ(Slurp(m_hosts), "127.0.0.1 localhost\r\n" + first);
}

}  // namespace
