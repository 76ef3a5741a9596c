// Failures injected into the write path: the hosts file keeps its old bytes and the operation
// says so; nothing is left beside it. Also the in-place rewrite for files that cannot be
// renamed over, and the clean-up after a killed writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/CHostsFile.h"
#include "platform/FileOps.h"
#include "platform/HostsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"

namespace {

std::string g_hostsPath;
int g_hostsWriteFd = -1;
int g_writeCalls = 0;

// Opening the hosts file itself for writing happens only in the in-place rewrite.
int TrackingOpen(const char* path, int flags, mode_t mode) {
    const int fd = DefaultFileOps().open(path, flags, mode);
    if (fd >= 0 && g_hostsPath == path && (flags & O_ACCMODE) == O_WRONLY) g_hostsWriteFd = fd;
    return fd;
}

int RenameBusy(const char* from, const char* to) {
    if (g_hostsPath == to) {
        errno = EBUSY;  // what a bind-mounted file answers
        return -1;
    }
    return DefaultFileOps().rename(from, to);
}

template <int Error>
int Fail() {
    errno = Error;
    return -1;
}

struct Fault {
    const char* name;
    void (*install)(FileOps& ops);
};

const Fault kFaults[] = {
    {"temp open",
     [](FileOps& o) {
         o.open = [](const char* p, int f, mode_t m) {
             return (f & O_CREAT) != 0 ? Fail<ENOSPC>() : DefaultFileOps().open(p, f, m);
         };
     }},
    {"write error",
     [](FileOps& o) { o.write = [](int, const void*, size_t) -> ssize_t { return Fail<EIO>(); }; }},
    {"disk full after a partial write",
     [](FileOps& o) {
         o.write = [](int fd, const void* b, size_t n) -> ssize_t {
             if (g_writeCalls++ == 0) return DefaultFileOps().write(fd, b, n / 2);
             return Fail<ENOSPC>();
         };
     }},
    {"write that makes no progress",
     [](FileOps& o) { o.write = [](int, const void*, size_t) -> ssize_t { return 0; }; }},
    {"fsync", [](FileOps& o) { o.fsync = [](int) { return Fail<EIO>(); }; }},
    {"fchmod", [](FileOps& o) { o.fchmod = [](int, mode_t) { return Fail<EPERM>(); }; }},
    {"fchown", [](FileOps& o) { o.fchown = [](int, uid_t, gid_t) { return Fail<EPERM>(); }; }},
    {"close",
     [](FileOps& o) {
         o.close = [](int fd) {
             DefaultFileOps().close(fd);
             return Fail<EIO>();
         };
     }},
    {"rename",
     [](FileOps& o) { o.rename = [](const char*, const char*) { return Fail<EACCES>(); }; }},
    // In place, after rename was refused:
    {"in-place write",
     [](FileOps& o) {
         o.open = TrackingOpen;
         o.rename = RenameBusy;
         o.write = [](int fd, const void* b, size_t n) -> ssize_t {
             if (fd != g_hostsWriteFd) return DefaultFileOps().write(fd, b, n);
             const int call = g_writeCalls++;
             if (call == 0) return DefaultFileOps().write(fd, b, n / 2);
             if (call == 1) return Fail<EIO>();
             return DefaultFileOps().write(fd, b, n);  // putting the old bytes back works
         };
     }},
    {"in-place verify",
     [](FileOps& o) {
         o.open = TrackingOpen;
         o.rename = RenameBusy;
         o.write = [](int fd, const void* b, size_t n) -> ssize_t {
             if (fd != g_hostsWriteFd || g_writeCalls++ > 0)
                 return DefaultFileOps().write(fd, b, n);
             std::string garbled(static_cast<const char*>(b), n);
             garbled[0] ^= 1;  // the disk took something else
             return DefaultFileOps().write(fd, garbled.data(), n);
         };
     }},
    {"in-place truncate",
     [](FileOps& o) {
         o.rename = RenameBusy;
         o.ftruncate = [](int fd, off_t n) {
             return g_writeCalls++ == 0 ? Fail<EIO>() : DefaultFileOps().ftruncate(fd, n);
         };
     }},
    {"backup rename",
     [](FileOps& o) { o.rename = [](const char*, const char*) { return Fail<EBUSY>(); }; }},
};

class SafeWrite : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        g_hostsPath = m_hosts;
        g_hostsWriteFd = -1;
        g_writeCalls = 0;
        m_original = "127.0.0.1 localhost\r\n";
        for (int i = 0; i < 2000; ++i) m_original += "10.0.0.1 host" + std::to_string(i) + "\n";
        SetHosts(m_original);
        SetSettings("0.0.0.0 a.example\n");
    }
    std::string m_original;
};

TEST_F(SafeWrite, EveryInjectedFailureLeavesTheFileByteIdentical) {
    const ino_t inode = InodeOf(m_hosts);
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        g_writeCalls = 0;
        g_hostsWriteFd = -1;
        FileOps ops = DefaultFileOps();
        fault.install(ops);
        {
            CScopedFileOps scoped(ops);
            EXPECT_FALSE(CHostsFile().AddBlock());
        }
        EXPECT_EQ(Hosts(), m_original);
        EXPECT_EQ(InodeOf(m_hosts), inode);
        EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    }
}

TEST_F(SafeWrite, ShortWritesStillWriteEverything) {
    FileOps ops = DefaultFileOps();
    ops.write = [](int fd, const void* b, size_t n) {
        return DefaultFileOps().write(fd, b, std::min<size_t>(n, 1000));
    };
    CScopedFileOps scoped(ops);
    EXPECT_TRUE(CHostsFile().AddBlock());
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n" + m_original.substr(21));
}

TEST_F(SafeWrite, RenameKeepsModeAndOwnerAndFollowsASymbolicLink) {
    const std::string real = m_dir + "/real-hosts";
    std::filesystem::rename(m_hosts, real);
    std::filesystem::create_symlink(real, m_hosts);
    ASSERT_EQ(::chmod(real.c_str(), 0641), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(real.c_str(), 1234, 1235), 0);
    }
    const ino_t inode = InodeOf(real);

    EXPECT_TRUE(CHostsFile().AddBlock());
    EXPECT_TRUE(std::filesystem::is_symlink(m_hosts));
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_NE(st.st_ino, inode);  // replaced by rename
    EXPECT_EQ(st.st_mode & 07777, 0641u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 1235u);
    }
    EXPECT_EQ(Slurp(real), "127.0.0.1 localhost\n" + m_original.substr(21) +
                               "# Begin Vantrel\n0.0.0.0 a.example\n\n# End Vantrel");
}

TEST_F(SafeWrite, RefusedRenameFallsBackToAVerifiedRewriteInPlace) {
    const ino_t inode = InodeOf(m_hosts);
    FileOps ops = DefaultFileOps();
    ops.rename = RenameBusy;
    CScopedFileOps scoped(ops);
    EXPECT_TRUE(CHostsFile().AddBlock());
    EXPECT_NE(Hosts(), m_original);
    EXPECT_EQ(InodeOf(m_hosts), inode);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n" + m_original.substr(21));
    EXPECT_EQ(InodeOf(m_hosts), inode);
}

TEST_F(SafeWrite, ABackupLeftByAnInterruptedRewriteIsPutBackFirst) {
    Spit(BackupFilePath(m_hosts), m_original);
    SetHosts("torn");
    EXPECT_FALSE(CHostsFile().IsBlockActive());
    EXPECT_EQ(Hosts(), m_original);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());

    // When putting it back fails too, the backup stays for the next try.
    Spit(BackupFilePath(m_hosts), m_original);
    SetHosts("torn");
    FileOps ops = DefaultFileOps();
    ops.ftruncate = [](int, off_t) { return Fail<EIO>(); };
    {
        CScopedFileOps scoped(ops);
        EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Unreadable);
        EXPECT_FALSE(CHostsFile().AddBlock());
    }
    EXPECT_TRUE(std::filesystem::exists(BackupFilePath(m_hosts)));
    EXPECT_EQ(ReadHostsText(m_hosts).text, "127.0.0.1 localhost\n" + m_original.substr(21));
    EXPECT_EQ(Hosts(), m_original);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
}

TEST_F(SafeWrite, AnInPlaceRewriteWhoseBackupStaysIsReportedAndUndone) {
    // The next operation puts a remaining backup back, so success would be undone silently.
    FileOps ops = DefaultFileOps();
    ops.rename = RenameBusy;
    ops.unlink = [](const char*) { return Fail<EIO>(); };
    {
        CScopedFileOps scoped(ops);
        EXPECT_FALSE(CHostsFile().AddBlock());
    }
    EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Ok);
    EXPECT_EQ(Hosts(), m_original);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
}

TEST_F(SafeWrite, TemporaryFilesOfAKilledWriterGoWithTheNextOperation) {
    Spit(TempFilePrefix(m_hosts) + "99-0-0", "half");
    Spit(m_dir + "/.hosts2.vantrel-tmp-1", "someone else's");
    EXPECT_FALSE(CHostsFile().IsBlockActive());
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>{".hosts2.vantrel-tmp-1"});
}

TEST_F(SafeWrite, WriteHostsFileReportsAFailedReplacement) {
    FileOps ops = DefaultFileOps();
    ops.rename = [](const char*, const char*) { return Fail<EROFS>(); };
    {
        CScopedFileOps scoped(ops);
        EXPECT_FALSE(CHostsFile().WriteHostsFile("new\n"));
    }
    EXPECT_EQ(Hosts(), m_original);
    EXPECT_TRUE(CHostsFile().WriteHostsFile("new\n"));
    EXPECT_EQ(Hosts(), "new\n");
}

}  // namespace
