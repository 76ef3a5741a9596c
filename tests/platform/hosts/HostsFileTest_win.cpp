// The hosts block's shared promises (HostsFileContract.h) on Windows, and what only Windows
// has: files held open without sharing, the read-only attribute (also for -uninstall). (The
// system folder's hosts file, whatever VANTREL_HOSTS_FILE says: e2e_windows.sh.)
#include "core/hosts/HostsText.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"
#include "support/WinTestSupport.h"

using HostsFileContract = HostsDirTest;

inline std::vector<std::string> ProgramLeftovers(const std::string& dir) {
    return TempFiles(dir);
}

#include "platform/hosts/HostsFileContract.h"

namespace {

using HostsBytes = HostsDirTest;

const char kSettings[] =
    "0.0.0.0 pagead2.googlesyndication.com\r\n0.0.0.0 tpc.googlesyndication.com\r\n";

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

    // A read-only file is not replaced, and the result says so; -uninstall ends with status 1.
    ASSERT_TRUE(::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");
    ::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::string withBlock = "a\r\n# Begin Vantrel\r\nx\r\n# End Vantrel\r\n";
    SetHosts(withBlock);
    ASSERT_TRUE(::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_READONLY));
    const UninstallResult left = RunUninstall();
    ::SetFileAttributesW(Utf8ToWide(m_hosts).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(left.status, kUninstallRetry);
    EXPECT_EQ(left.error, "vantrel: the block is still in " + m_hosts +
                              ": the file could not be written. Close any program that has it "
                              "open (a security program, say), make sure it is not read-only, "
                              "and try again.");
    EXPECT_EQ(Hosts(), withBlock);
    EXPECT_EQ(TempFiles(m_dir), std::vector<std::string>());
}

}  // namespace
