// Failures injected into the write path: the hosts file keeps its old bytes and the operation
// says so; nothing is left beside it. Also the in-place rewrite for files that cannot be
// renamed over, attributes, the kernel's copy of an unchanged start, and the settings save.
// Every call failing in turn, once and for good, is stress/HostsStress.cpp's "faults".
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files/FileOps_unix.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"
#include "platform/settings/SettingsFileIO.h"

namespace {

std::string g_hostsPath;
int g_hostsWriteFd = -1;
int g_calls = 0;

template <int Error>
int Fail() {
    errno = Error;
    return -1;
}

// Opening the hosts file itself for writing happens only in the in-place rewrite.
int TrackingOpen(const char* path, int flags, mode_t mode) {
    const int fd = DefaultFileOps().open(path, flags, mode);
    if (fd >= 0 && g_hostsPath == path && (flags & O_ACCMODE) == O_WRONLY) g_hostsWriteFd = fd;
    return fd;
}

// What a bind-mounted file answers.
int RenameBusy(const char* from, const char* to) {
    return g_hostsPath == to ? Fail<EBUSY>() : DefaultFileOps().rename(from, to);
}

// The first write lands half, every later one finds the disk full.
ssize_t HalfThenFull(int fd, const void* b, size_t n) {
    return g_calls++ == 0 ? DefaultFileOps().write(fd, b, n / 2) : Fail<ENOSPC>();
}

void InPlace(FileOps& o) {
    o.open = TrackingOpen;
    o.rename = RenameBusy;
}

const std::pair<const char*, void (*)(FileOps&)> kFaults[] = {
    {"temp open",
     [](FileOps& o) {
         o.open = [](const char* p, int f, mode_t m) {
             return (f & O_CREAT) != 0 ? Fail<ENOSPC>() : DefaultFileOps().open(p, f, m);
         };
     }},
    {"write error",
     [](FileOps& o) { o.write = [](int, const void*, size_t) -> ssize_t { return Fail<EIO>(); }; }},
    {"disk full after a partial write", [](FileOps& o) { o.write = HalfThenFull; }},
    {"write that makes no progress",
     [](FileOps& o) { o.write = [](int, const void*, size_t) -> ssize_t { return 0; }; }},
    {"fsync", [](FileOps& o) { o.fsync = [](int) { return Fail<EIO>(); }; }},
    {"close",
     [](FileOps& o) { o.close = [](int fd) { return DefaultFileOps().close(fd), Fail<EIO>(); }; }},
    {"rename",
     [](FileOps& o) { o.rename = [](const char*, const char*) { return Fail<EACCES>(); }; }},
    {"backup rename",
     [](FileOps& o) { o.rename = [](const char*, const char*) { return Fail<EBUSY>(); }; }},
    // In place, after rename was refused:
    {"in-place write",
     [](FileOps& o) {
         InPlace(o);
         o.write = [](int fd, const void* b, size_t n) -> ssize_t {
             if (fd != g_hostsWriteFd) return DefaultFileOps().write(fd, b, n);
             const int call = g_calls++;
             if (call == 0) return DefaultFileOps().write(fd, b, n / 2);
             if (call == 1) return Fail<EIO>();
             return DefaultFileOps().write(fd, b, n);  // putting the old bytes back works
         };
     }},
    {"in-place verify",
     [](FileOps& o) {
         InPlace(o);
         o.write = [](int fd, const void* b, size_t n) -> ssize_t {
             if (fd != g_hostsWriteFd || g_calls++ > 0) return DefaultFileOps().write(fd, b, n);
             std::string garbled(static_cast<const char*>(b), n);
             garbled[0] ^= 1;  // the disk took something else
             return DefaultFileOps().write(fd, garbled.data(), n);
         };
     }},
    {"in-place truncate",
     [](FileOps& o) {
         o.rename = RenameBusy;
         o.ftruncate = [](int fd, off_t n) {
             return g_calls++ == 0 ? Fail<EIO>() : DefaultFileOps().ftruncate(fd, n);
         };
     }},
    // A backup that stays would have the next write put the old bytes back, so success would be
    // undone silently: the old bytes go back at once and the failure is reported.
    {"backup removal",
     [](FileOps& o) {
         o.rename = RenameBusy;
         o.unlink = [](const char*) { return Fail<EIO>(); };
     }},
};

class SafeWrite : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        g_hostsPath = m_hosts;
        g_hostsWriteFd = -1;
        g_calls = 0;
        m_original = "127.0.0.1 localhost\r\n";
        for (int i = 0; i < 2000; ++i) m_original += "10.0.0.1 host" + std::to_string(i) + "\n";
        m_plain = "127.0.0.1 localhost\n" + m_original.substr(21);
        SetHosts(m_original);
        SetSettings("0.0.0.0 a.example\n");
    }
    std::string m_original;
    std::string m_plain;  // without its CR
    const std::string m_block = "# Begin Vantrel\n0.0.0.0 a.example\n\n# End Vantrel";
};

// Opens the next write operation's exclusive lock and changes nothing.
HostsOutcome TouchNothing(const std::string& path) {
    return EditHostsFile(path, [](std::string&) { return false; }).outcome;
}

TEST_F(SafeWrite, EveryInjectedFailureLeavesTheFileByteIdentical) {
    const ino_t inode = InodeOf(m_hosts);
    for (const auto& [name, install] : kFaults) {
        SCOPED_TRACE(name);
        g_calls = 0;
        g_hostsWriteFd = -1;
        FileOps ops = DefaultFileOps();
        install(ops);
        {
            CScopedFileOps scoped(ops);
            EXPECT_FALSE(CHostsFile().AddBlock());
        }
        EXPECT_EQ(Hosts(), m_original);
        EXPECT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);  // a backup that stayed goes
        EXPECT_EQ(Hosts(), m_original);
        EXPECT_EQ(InodeOf(m_hosts), inode);
        EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    }
}

TEST_F(SafeWrite, ShortWritesAndARefusedRenameStillWriteEverything) {
    FileOps ops = DefaultFileOps();
    ops.write = [](int fd, const void* b, size_t n) {
        return DefaultFileOps().write(fd, b, std::min<size_t>(n, 1000));
    };
    {
        CScopedFileOps scoped(ops);
        EXPECT_TRUE(CHostsFile().AddBlock());
        EXPECT_TRUE(CHostsFile().RemoveBlock());
        EXPECT_EQ(Hosts(), m_plain);
    }
    // A bind-mounted file: rewritten in place, verified, and nothing left beside it.
    const ino_t inode = InodeOf(m_hosts);
    ops.rename = RenameBusy;
    CScopedFileOps scoped(ops);
    EXPECT_TRUE(CHostsFile().AddBlock());
    EXPECT_EQ(Hosts(), m_plain + m_block);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), m_plain);
    EXPECT_EQ(InodeOf(m_hosts), inode);
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
        EXPECT_TRUE(st.st_uid == 1234u && st.st_gid == 1235u);
    }
    EXPECT_EQ(Slurp(real), m_plain + m_block);
}

// A backup as an in-place rewrite of old into bytes leaves it: the lengths of the old bytes, of
// what the new bytes share with them from the start and of the rest, then the old bytes and the
// rest.
std::string BackupOf(const std::string& old, const std::string& bytes) {
    std::size_t shared = 0;
    while (shared < std::min(old.size(), bytes.size()) && old[shared] == bytes[shared]) ++shared;
    return "vantrel-backup 1\n" + std::to_string(old.size()) + " " + std::to_string(shared) + " " +
           std::to_string(bytes.size() - shared) + "\n" + old + bytes.substr(shared);
}

TEST_F(SafeWrite, OnlyAnInterruptedRewriteIsPutBackAndOnlyByAWrite) {
    // What adding writes: the CR is gone, so the new bytes differ from the old from line one.
    const std::string added = m_plain + m_block;
    const std::string backup = BackupFilePath(m_hosts);

    // Killed part way (or still at work): the new bytes' start over the old bytes' rest. A
    // status read sees the file as it was before the rewrite, never the torn bytes, and leaves
    // everything alone; the next write puts the old bytes back.
    const std::string torn = added.substr(0, 100) + m_original.substr(100);
    Spit(backup, BackupOf(m_original, added));
    SetHosts(torn);
    EXPECT_FALSE(CHostsFile().IsBlockActive());
    EXPECT_EQ(ReadHostsText(m_hosts).text, m_plain);
    EXPECT_EQ(Hosts(), torn);
    EXPECT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);
    EXPECT_EQ(Hosts(), m_original);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());

    // Killed after the write but before the backup went, and another program has appended a line
    // since: its line stays, whatever the next operation is. (Without that line, the next write
    // would put the old bytes back: the rewrite never reported success.)
    const std::string later = added + "\n10.9.9.9 appended.example\n";
    for (const bool byWrite : {false, true}) {
        Spit(backup, BackupOf(m_original, added));
        SetHosts(later);
        if (byWrite) {
            EXPECT_TRUE(CHostsFile().RemoveBlock());
            EXPECT_EQ(Hosts(), m_plain + "\n10.9.9.9 appended.example\n");
            EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
        } else {
            EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Ok);
            EXPECT_EQ(Hosts(), later);
        }
    }

    // A backup that proves nothing (an older program's, holding only old bytes) is dropped.
    Spit(backup, m_original);
    SetHosts("10.9.9.9 written.later\n");
    EXPECT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);
    EXPECT_EQ(Hosts(), "10.9.9.9 written.later\n");
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());

    // A torn file that cannot be put back is not trusted by a write; once it can, it is.
    Spit(backup, BackupOf(m_original, added));
    SetHosts(torn);
    FileOps ops = DefaultFileOps();
    ops.ftruncate = [](int, off_t) { return Fail<EIO>(); };
    {
        CScopedFileOps scoped(ops);
        EXPECT_EQ(AddBlockAt(m_hosts, {"0.0.0.0 a.example", ""}).outcome, HostsOutcome::Unreadable);
    }
    EXPECT_TRUE(std::filesystem::exists(backup));
    EXPECT_TRUE(CHostsFile().AddBlock());  // repaired, then added
    EXPECT_EQ(Hosts(), m_plain + m_block);
}

TEST_F(SafeWrite, AFailedWriteOnAReadOnlyFileLeavesNothingBehind) {
    // A read-only bind mount: rename refused, and the file cannot be opened for writing.
    const std::string withBlock =
        m_original + "# Begin Vantrel\n0.0.0.0 googlesyndication.com\n# End Vantrel";
    SetHosts(withBlock);
    FileOps ops = DefaultFileOps();
    ops.rename = RenameBusy;
    ops.open = [](const char* p, int f, mode_t m) {
        return g_hostsPath == p && (f & O_ACCMODE) != O_RDONLY ? Fail<EROFS>()
                                                               : DefaultFileOps().open(p, f, m);
    };
    {
        CScopedFileOps scoped(ops);
        EXPECT_FALSE(CHostsFile().RemoveBlock());
        EXPECT_FALSE(CHostsFile().RemoveBlock());
        EXPECT_TRUE(CHostsFile().IsBlockActive());
    }
    EXPECT_EQ(Hosts(), withBlock);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    EXPECT_TRUE(CHostsFile().RemoveBlock());  // once it can be written, it works as before
    EXPECT_EQ(Hosts(), m_plain);
}

std::string Xattr(const std::string& path, const char* name) {
    char value[512];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(n));
}

// Runs fn in a child process as the user nobody; true when it returned true.
template <typename Fn>
bool AsNobody(Fn fn) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(SafeWrite, TheACLAndExtendedAttributesStayAlsoWhereTheyCannotBeCopied) {
    if (::setxattr(m_hosts.c_str(), "user.vantrel-test", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no user extended attributes in " << m_dir;
    if (std::system(("setfacl -m u:65534:rw '" + m_hosts + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no ACLs in " << m_dir;
    const std::string acl = Xattr(m_hosts, "system.posix_acl_access");
    ::chmod(m_dir.c_str(), 0711);  // so that the ACL's user reaches the file
    // A replacement, then a security label the process may not set, an owner it may not give, a
    // mode it may not set: each means a write in place.
    const std::vector<void (*)(FileOps&)> faults = {
        [](FileOps&) {},
        [](FileOps& o) {
            o.fsetxattr = [](int, const char*, const void*, size_t, int) { return Fail<EPERM>(); };
        },
        [](FileOps& o) { o.fchown = [](int, uid_t, gid_t) { return Fail<EPERM>(); }; },
        [](FileOps& o) { o.fchmod = [](int, mode_t) { return Fail<EPERM>(); }; },
    };
    for (const auto& install : faults) {
        const ino_t inode = InodeOf(m_hosts);
        FileOps ops = DefaultFileOps();
        install(ops);
        {
            CScopedFileOps scoped(ops);
            EXPECT_TRUE(CHostsFile().AddBlock());
            EXPECT_TRUE(CHostsFile().RemoveBlock());
        }
        EXPECT_EQ(InodeOf(m_hosts) == inode, &install != &faults.front());
        EXPECT_EQ(Hosts(), m_plain);
        EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
        EXPECT_EQ(Xattr(m_hosts, "user.vantrel-test"), "kept");
        EXPECT_EQ(Xattr(m_hosts, "system.posix_acl_access"), acl);
        if (::geteuid() == 0) {
            EXPECT_TRUE(AsNobody([this] { return ::access(m_hosts.c_str(), W_OK) == 0; }));
        }
    }
}

TEST_F(SafeWrite, AWritableFileInAFolderThatIsNotIsChangedInPlaceWithoutRiskingALine) {
    // Nothing can be created beside the file (chmod 666 /etc/hosts in a root-owned /etc).
    FileOps ops = DefaultFileOps();
    ops.open = [](const char* p, int f, mode_t m) {
        return (f & O_CREAT) != 0 ? Fail<EACCES>() : DefaultFileOps().open(p, f, m);
    };
    const std::string plain = "127.0.0.1 localhost\n10.0.0.1 kept.example\n";
    SetHosts(plain);
    const ino_t inode = InodeOf(m_hosts);
    CScopedFileOps scoped(ops);
    EXPECT_TRUE(CHostsFile().AddBlock());  // an append
    EXPECT_EQ(Hosts(), plain + m_block);
    EXPECT_TRUE(CHostsFile().RemoveBlock());  // a cut at the end
    EXPECT_EQ(Hosts(), plain);
    EXPECT_EQ(InodeOf(m_hosts), inode);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());

    // Dropping the CRs would rewrite lines that are there; without a backup a crash half way could
    // cost them, so that change is not made.
    SetHosts(m_original);
    EXPECT_FALSE(CHostsFile().AddBlock());
    EXPECT_EQ(Hosts(), m_original);

    // An append that fails half way is cut off again.
    SetHosts(plain);
    CurrentFileOps().write = HalfThenFull;
    EXPECT_FALSE(CHostsFile().AddBlock());
    EXPECT_EQ(Hosts(), plain);
}

TEST_F(SafeWrite, AUserChangesAHostsFileHeMayWriteInAFolderHeMayNot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string plain = "127.0.0.1 localhost\n";
    SetHosts(plain);
    ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(m_hosts.c_str(), 0666), 0);
    EXPECT_TRUE(AsNobody([] { return CHostsFile().AddBlock(); }));
    EXPECT_EQ(Hosts(), plain + m_block);
    EXPECT_TRUE(AsNobody([] { return CHostsFile().RemoveBlock(); }));
    EXPECT_EQ(Hosts(), plain);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
}

TEST_F(SafeWrite, TemporaryFilesOfAKilledWriterGoWithTheNextWrite) {
    Spit(TempFilePrefix(m_hosts) + "99-0-0", "half");
    Spit(m_dir + "/.hosts2.vantrel-tmp-1", "someone else's");
    EXPECT_FALSE(CHostsFile().IsBlockActive());  // a read changes nothing
    EXPECT_EQ(HiddenFiles(m_dir).size(), 2u);
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>{".hosts2.vantrel-tmp-1"});
}

TEST_F(SafeWrite, TheSettingsSaveReplacesTheListWholeOrNotAtAll) {
    const std::string settings = m_dir + "/vantrel_settings.txt";
    ASSERT_EQ(::chmod(settings.c_str(), 0640), 0);
    ASSERT_TRUE(WriteSettingsText("0.0.0.0 b.example\n"));
    EXPECT_EQ(Slurp(settings), "0.0.0.0 b.example\n");
    struct stat st {};
    EXPECT_TRUE(::stat(settings.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640);
    FileOps ops = DefaultFileOps();
    ops.write = HalfThenFull;
    {
        CScopedFileOps scoped(ops);
        EXPECT_FALSE(WriteSettingsText("0.0.0.0 c.example\n"));
    }
    EXPECT_EQ(Slurp(settings), "0.0.0.0 b.example\n");
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    // No temporary file can be made beside it: the file itself is rewritten.
    ops = DefaultFileOps();
    ops.open = [](const char* p, int f, mode_t m) {
        return (f & O_EXCL) != 0 ? Fail<EACCES>() : DefaultFileOps().open(p, f, m);
    };
    {
        CScopedFileOps scoped(ops);
        EXPECT_TRUE(WriteSettingsText(""));
    }
    EXPECT_EQ(Slurp(settings), "");
    std::filesystem::remove(settings);
    std::filesystem::create_directory(settings);
    EXPECT_FALSE(WriteSettingsText("0.0.0.0 a.example\n"));  // a folder by that name stays
    EXPECT_TRUE(std::filesystem::is_directory(settings));
}

// Large LF-only files: the unchanged start goes into the new file through the kernel's copy, and
// the bytes are the same whoever copies them, also where the copy is refused, cut short or runs
// out of disk; a block at the very end is cut off in place.
int g_copyCalls = 0;

ssize_t CountingCopy(int in, off_t* inOffset, int out, off_t* outOffset, size_t n, unsigned f) {
    ++g_copyCalls;
    return DefaultFileOps().copyFileRange(in, inOffset, out, outOffset, n, f);
}

class KernelCopy : public SafeWrite {
protected:
    void SetUp() override {
        SafeWrite::SetUp();
        g_copyCalls = 0;
        // Several of the reader's 64 KiB chunks.
        for (int i = 0; i < 150000; ++i) m_large += "10.0.0.1 host" + std::to_string(i) + "\n";
    }
    std::string m_large;
};

TEST_F(KernelCopy, AddAndRemoveGiveTheSameBytesWhateverCopiesTheStart) {
    const std::string half = m_large.substr(0, m_large.size() / 2);
    const std::string rest = m_large.substr(half.size());
    const std::pair<const char*, void (*)(FileOps&)> cases[] = {
        {"kernel copy", [](FileOps& o) { o.copyFileRange = CountingCopy; }},
        {"copy refused",
         [](FileOps& o) {
             o.copyFileRange = [](int, off_t*, int, off_t*, size_t, unsigned) -> ssize_t {
                 return ++g_copyCalls, Fail<EXDEV>();
             };
         }},
        {"copy cut short",
         [](FileOps& o) {
             o.copyFileRange = [](int in, off_t* io, int out, off_t* oo, size_t n,
                                  unsigned f) -> ssize_t {
                 if (g_copyCalls++ > 0) return 0;
                 return DefaultFileOps().copyFileRange(in, io, out, oo, n / 3, f);
             };
         }},
        {"in place",
         [](FileOps& o) {
             o.copyFileRange = CountingCopy;
             InPlace(o);
         }},
    };
    for (const auto& [name, install] : cases) {
        SCOPED_TRACE(name);
        FileOps ops = DefaultFileOps();
        install(ops);
        CScopedFileOps scoped(ops);
        g_copyCalls = 0;
        SetHosts(m_large);
        EXPECT_TRUE(CHostsFile().AddBlock());
        EXPECT_EQ(Hosts(), m_large + m_block);
        EXPECT_TRUE(CHostsFile().RemoveBlock());
        EXPECT_EQ(Hosts(), m_large);
        EXPECT_GT(g_copyCalls, 0);
        // A CR halfway and text after the block: the CR still goes, the text stays.
        SetHosts(half + "10.0.0.2 cr\r\n" + rest + m_block + "\r\nafter\n");
        EXPECT_TRUE(CHostsFile().RemoveBlock());
        EXPECT_EQ(Hosts(), half + "10.0.0.2 cr\n" + rest + "\nafter\n");
        EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    }
}

TEST_F(KernelCopy, AFullDiskLeavesTheFileAsItWasAndABlockAtTheEndIsCutOffInPlace) {
    // A line after the block: the file is copied, not cut short.
    const std::string withBlock = m_large + m_block + "\nafter\n";
    SetHosts(withBlock);
    FileOps ops = DefaultFileOps();
    ops.copyFileRange = [](int in, off_t* io, int out, off_t* oo, size_t n, unsigned f) -> ssize_t {
        if (g_copyCalls++ == 0) return DefaultFileOps().copyFileRange(in, io, out, oo, n / 2, f);
        return Fail<ENOSPC>();
    };
    ops.write = [](int, const void*, size_t) -> ssize_t { return Fail<ENOSPC>(); };
    {
        CScopedFileOps scoped(ops);
        EXPECT_FALSE(CHostsFile().RemoveBlock());
    }
    EXPECT_EQ(Hosts(), withBlock);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());

    SetHosts(m_large + m_block);
    const ino_t inode = InodeOf(m_hosts);
    g_copyCalls = 0;
    ops = DefaultFileOps();
    ops.copyFileRange = CountingCopy;
    CScopedFileOps scoped(ops);
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), m_large);
    EXPECT_EQ(InodeOf(m_hosts), inode);
    EXPECT_EQ(g_copyCalls, 0);  // nothing of the 2 MB was copied
    // A cut that does not hold is put back.
    SetHosts(m_large + m_block);
    CurrentFileOps().fsync = [](int) { return Fail<EIO>(); };
    EXPECT_FALSE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), m_large + m_block);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
}

}  // namespace
