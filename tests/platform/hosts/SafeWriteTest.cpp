// Injected write failures keep the old bytes and say so; the in-place rewrite, attributes, the
// kernel's copy and the settings save. Every call failing in turn: stress/HostsStress.cpp.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "core/hosts/HostsText.h"
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

// Runs body with the file calls that change makes, then the real ones again.
template <typename Change, typename Body>
void With(const Change& change, const Body& body) {
    FileOps ops = DefaultFileOps();
    change(ops);
    CScopedFileOps scoped(ops);
    body();
}

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
    // The file holds bytes and nothing is left beside it.
    void ExpectOnly(const std::string& bytes) {
        EXPECT_EQ(Hosts(), bytes);
        EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
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
    // What stress's faults (every call failing in turn, short writes) do not do, and a failing
    // backup removal (a backup that stayed would let the next write silently undo a success).
    const std::pair<const char*, void (*)(FileOps&)> faults[] = {
        {"disk full after a partial write", [](FileOps& o) { o.write = HalfThenFull; }},
        {"no progress",
         [](FileOps& o) { o.write = [](int, const void*, size_t) -> ssize_t { return 0; }; }},
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
        {"backup removal",
         [](FileOps& o) {
             o.rename = RenameBusy;
             o.unlink = [](const char*) { return Fail<EIO>(); };
         }},
    };
    const ino_t inode = InodeOf(m_hosts);
    for (const auto& [name, install] : faults) {
        SCOPED_TRACE(name);
        g_calls = 0;
        With(install, [] { EXPECT_FALSE(CHostsFile().AddBlock()); });
        EXPECT_EQ(Hosts(), m_original);
        EXPECT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);
        ExpectOnly(m_original);
        EXPECT_EQ(InodeOf(m_hosts), inode);
    }
}

TEST_F(SafeWrite, RenameKeepsModeAndOwnerAndFollowsASymbolicLink) {
    const std::string real = m_dir + "/real-hosts";
    std::filesystem::rename(m_hosts, real);
    std::filesystem::create_symlink(real, m_hosts);
    ASSERT_EQ(::chmod(real.c_str(), 0641), 0);
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::chown(real.c_str(), 1234, 1235) == 0);
    const ino_t inode = InodeOf(real);
    EXPECT_TRUE(CHostsFile().AddBlock());
    EXPECT_TRUE(std::filesystem::is_symlink(m_hosts));
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_NE(st.st_ino, inode);  // replaced by rename
    EXPECT_EQ(st.st_mode & 07777, 0641u);
    EXPECT_TRUE(!root || (st.st_uid == 1234u && st.st_gid == 1235u));
    EXPECT_EQ(Slurp(real), m_plain + m_block);
}

// The backup an in-place rewrite of old into bytes leaves: lengths, then old bytes and new rest.
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

    // Killed part way: a read sees the old bytes and changes nothing; a write puts them back.
    const std::string torn = added.substr(0, 100) + m_original.substr(100);
    Spit(backup, BackupOf(m_original, added));
    SetHosts(torn);
    EXPECT_FALSE(CHostsFile().IsBlockActive());
    EXPECT_EQ(ReadHostsText(m_hosts).text, m_plain);
    EXPECT_EQ(Hosts(), torn);
    EXPECT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);
    ExpectOnly(m_original);

    // Killed after the write, before the backup went, and a line appended since: the line stays.
    const std::string later = added + "\n10.9.9.9 appended.example\n";
    Spit(backup, BackupOf(m_original, added));
    SetHosts(later);
    EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Ok);
    EXPECT_EQ(Hosts(), later);
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    ExpectOnly(m_plain + "\n10.9.9.9 appended.example\n");

    // A backup that proves nothing (an older program's, holding only old bytes) is dropped.
    Spit(backup, m_original);
    SetHosts("10.9.9.9 written.later\n");
    EXPECT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);
    ExpectOnly("10.9.9.9 written.later\n");

    // A torn file that cannot be put back is not trusted by a write; once it can, it is.
    Spit(backup, BackupOf(m_original, added));
    SetHosts(torn);
    With([](FileOps& o) { o.ftruncate = [](int, off_t) { return Fail<EIO>(); }; },
         [&] {
             EXPECT_EQ(AddBlockAt(m_hosts, {"0.0.0.0 a.example", ""}).outcome,
                       HostsOutcome::Unreadable);
         });
    EXPECT_TRUE(std::filesystem::exists(backup));
    EXPECT_TRUE(CHostsFile().AddBlock());  // repaired, then added
    ExpectOnly(m_plain + m_block);
}

std::string Xattr(const std::string& path, const char* name) {
    char value[512];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(n));
}

TEST_F(SafeWrite, TheACLAndExtendedAttributesStayAlsoWhereTheyCannotBeCopied) {
    if (::setxattr(m_hosts.c_str(), "user.vantrel-test", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no user extended attributes in " << m_dir;
    if (std::system(("setfacl -m u:65534:rw '" + m_hosts + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no ACLs in " << m_dir;
    const std::string acl = Xattr(m_hosts, "system.posix_acl_access");
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
        With(install, [] { EXPECT_TRUE(CHostsFile().AddBlock() && CHostsFile().RemoveBlock()); });
        EXPECT_EQ(InodeOf(m_hosts) == inode, &install != &faults.front());
        ExpectOnly(m_plain);
        EXPECT_EQ(Xattr(m_hosts, "user.vantrel-test"), "kept");
        EXPECT_EQ(Xattr(m_hosts, "system.posix_acl_access"), acl);
    }
}

TEST_F(SafeWrite, AWritableFileInAFolderThatIsNotIsChangedInPlaceWithoutRiskingALine) {
    // Nothing can be created beside the file (chmod 666 /etc/hosts in a root-owned /etc).
    const auto noFolderAccess = [](FileOps& o) {
        o.open = [](const char* p, int f, mode_t m) {
            return (f & O_CREAT) != 0 ? Fail<EACCES>() : DefaultFileOps().open(p, f, m);
        };
    };
    const std::string plain = "127.0.0.1 localhost\n10.0.0.1 kept.example\n";
    SetHosts(plain);
    const ino_t inode = InodeOf(m_hosts);
    With(noFolderAccess, [&] {
        EXPECT_TRUE(CHostsFile().AddBlock());  // an append
        ExpectOnly(plain + m_block);
        EXPECT_TRUE(CHostsFile().RemoveBlock());  // a cut at the end
        ExpectOnly(plain);
        EXPECT_EQ(InodeOf(m_hosts), inode);
        // Dropping the CRs would rewrite lines that are there; without a backup a crash half way
        // could cost them, so that change is not made.
        SetHosts(m_original);
        EXPECT_FALSE(CHostsFile().AddBlock());
        EXPECT_EQ(Hosts(), m_original);
        // An append that fails half way is cut off again.
        SetHosts(plain);
        CurrentFileOps().write = HalfThenFull;
        EXPECT_FALSE(CHostsFile().AddBlock());
        EXPECT_EQ(Hosts(), plain);
    });
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
    struct stat st {};
    EXPECT_TRUE(::stat(settings.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640);
    With([](FileOps& o) { o.write = HalfThenFull; },
         [] { EXPECT_FALSE(WriteSettingsText("0.0.0.0 c.example\n")); });
    EXPECT_EQ(Slurp(settings), "0.0.0.0 b.example\n");
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
    // No temporary file can be made beside it: the file itself is rewritten.
    const auto noTemp = [](FileOps& o) {
        o.open = [](const char* p, int f, mode_t m) {
            return (f & O_EXCL) != 0 ? Fail<EACCES>() : DefaultFileOps().open(p, f, m);
        };
    };
    With(noTemp, [] { EXPECT_TRUE(WriteSettingsText("")); });
    EXPECT_EQ(Slurp(settings), "");
    std::filesystem::remove(settings);
    std::filesystem::create_directory(settings);
    EXPECT_FALSE(WriteSettingsText("0.0.0.0 a.example\n"));  // a folder by that name stays
    EXPECT_TRUE(std::filesystem::is_directory(settings));
}

// Large LF-only files: the kernel's copy of the unchanged start gives the same bytes, also when
// it is cut short.
int g_copyCalls = 0;

ssize_t CountingCopy(int in, off_t* inOffset, int out, off_t* outOffset, size_t n, unsigned f) {
    ++g_copyCalls;
    return DefaultFileOps().copyFileRange(in, inOffset, out, outOffset, n, f);
}

TEST_F(SafeWrite, TheKernelsCopyOfTheStartGivesTheSameBytes) {
    std::string large;  // several of the reader's 64 KiB chunks
    for (int i = 0; i < 150000; ++i) large += "10.0.0.1 host" + std::to_string(i) + "\n";
    const std::string half = large.substr(0, large.size() / 2);
    const std::string rest = large.substr(half.size());
    const std::pair<const char*, void (*)(FileOps&)> cases[] = {
        {"kernel copy", [](FileOps& o) { o.copyFileRange = CountingCopy; }},
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
        g_copyCalls = 0;
        With(install, [&] {
            SetHosts(large);
            EXPECT_TRUE(CHostsFile().AddBlock());
            EXPECT_EQ(Hosts(), large + m_block);
            EXPECT_TRUE(CHostsFile().RemoveBlock());
            EXPECT_EQ(Hosts(), large);
            // A CR halfway and text after the block: the CR still goes, the text stays.
            SetHosts(half + "10.0.0.2 cr\r\n" + rest + m_block + "\r\nafter\n");
            EXPECT_TRUE(CHostsFile().RemoveBlock());
            ExpectOnly(half + "10.0.0.2 cr\n" + rest + "\nafter\n");
        });
        EXPECT_GT(g_copyCalls, 0);
    }
}

// Kills, a smoke check (the thousand over 20 MB: stress/HostsStress.cpp): old or new, never torn.
TEST_F(SafeWrite, KilledWritersNeverLeaveATornFile) {
    std::string old;
    for (int i = 0; old.size() < (4u << 20); ++i)
        old += "10." + std::to_string(i % 250) + ".0.1 host" + std::to_string(i) + ".lan\n";
    SetHosts(old);
    const std::vector<std::string> lines = {"0.0.0.0 a.example", ""};
    std::string added = old;
    AppendBlock(added, lines);
    std::mt19937 random(std::random_device{}());
    for (int kill = 0; kill < 5; ++kill) {
        const bool inPlace = kill >= 3;
        const pid_t child = ::fork();
        if (child == 0) {
            if (inPlace) CurrentFileOps().rename = RenameBusy;
            for (;;) {
                AddBlockAt(m_hosts, lines);
                RemoveBlockAt(m_hosts);
            }
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 200000)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        // Whole at once by rename; in place once the next write has seen the backup.
        ASSERT_TRUE(!inPlace || TouchNothing(m_hosts) == HostsOutcome::Unchanged);
        ASSERT_TRUE(Hosts() == old || Hosts() == added) << "torn file after kill " << kill;
    }
    ASSERT_EQ(TouchNothing(m_hosts), HostsOutcome::Unchanged);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
}

}  // namespace
