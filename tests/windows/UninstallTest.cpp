// "vantrel.exe -uninstall" on the Wine prefix's own hosts file, the one below
// C:\windows\system32 (never the machine's /etc/hosts): the block goes, no window, and the exit
// status says whether a block is left.
#include "core/HostsText.h"
#include "platform/HostsFileIO.h"
#include "support/WinTestSupport.h"

namespace {

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override {
        // The program is to find the system's hosts file by itself.
        SetEnv(L"VANTREL_HOSTS_FILE", "");
        m_hosts = DefaultHostsPath();
        ASSERT_NE(m_hosts.find("\\drivers\\etc\\hosts"), std::string::npos) << m_hosts;
        m_saved = Slurp(m_hosts);
        ASSERT_NE(m_saved, "<missing>");
    }
    void TearDown() override { Spit(m_hosts, m_saved); }

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
    ASSERT_TRUE(AddBlockAt(m_hosts, {"0.0.0.0 pagead2.googlesyndication.com", ""}));
    ASSERT_NE(Slurp(m_hosts), mine);

    const ChildRun run = RunVantrel("-uninstall");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(Slurp(m_hosts), mine);

    // Nothing to remove: the file is not rewritten, its LF line ends stay.
    Spit(m_hosts, "127.0.0.1 localhost\n");
    const ChildRun again = RunVantrel("-uninstall");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(Slurp(m_hosts), "127.0.0.1 localhost\n");
}

TEST_F(Uninstall, ABlockThatCannotBeRemovedIsReportedAndLeftAlone) {
    const std::string damaged = "127.0.0.1 localhost\n# Begin Vantrel\n0.0.0.0 x.example\n";
    Spit(m_hosts, damaged);
    const ChildRun run = RunVantrel("-uninstall");
    EXPECT_EQ(run.exitCode, 1u);
    // The same words as on Linux, in this system's line end.
    EXPECT_EQ(run.error, "vantrel: the block is still in " + m_hosts + ": " +
                             std::string(kDamagedBlockText) + "\r\n");
    EXPECT_EQ(Slurp(m_hosts), damaged);

    // Two blocks: the first goes, the second is reported.
    const std::string first = "# Begin Vantrel\r\n0.0.0.0 a.example\r\n# End Vantrel\r\n";
    const std::string second = "# Begin Vantrel\r\n0.0.0.0 b.example\r\n# End Vantrel\r\n";
    Spit(m_hosts, "127.0.0.1 localhost\r\n" + first + second);
    const ChildRun twice = RunVantrel("-uninstall");
    EXPECT_EQ(twice.exitCode, 1u);
    EXPECT_EQ(twice.error, "vantrel: the block is still in " + m_hosts +
                               ": a second block follows the one removed.\r\n");
    EXPECT_EQ(Slurp(m_hosts), "127.0.0.1 localhost\r\n\r\n" + second);
}

}  // namespace
