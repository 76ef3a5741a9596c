// Rewrites in place (a bind-mounted file, which cannot be renamed over): a writer killed at random
// moments leaves what the next write operation puts back whole, and reads, which take no lock,
// never see such a rewrite half way. A smoke check: the hundred in-place kills over 20 MB are
// stress/HostsStress.cpp's; the kills during replacements are in HostsFileContract.h.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "core/hosts/HostsText.h"
#include "platform/files/FileOps_unix.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"

namespace {

std::string g_busyPath;

int RenameBusy(const char* from, const char* to) {
    if (g_busyPath == to) return errno = EBUSY, -1;
    return DefaultFileOps().rename(from, to);
}

// Runs loop in a child that rewrites in place, until killed.
template <typename Loop>
pid_t StartRewriting(const Loop& loop, bool flush = true) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    FileOps ops = DefaultFileOps();
    ops.rename = RenameBusy;
    // Flushes do nothing for what a reader sees; without them the writer rewrites far more often.
    if (!flush) ops.fsync = [](int) { return 0; };
    if (!flush) ops.fsyncDir = [](const char*) { return 0; };
    CurrentFileOps() = ops;
    for (;;) loop();
}

void Kill(pid_t child) {
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

using InPlace = HostsDirTest;

TEST_F(InPlace, KilledRewritesAreRepairedByTheNextWrite) {
    std::string old;
    for (int i = 0; old.size() < (4u << 20); ++i)
        old += "10." + std::to_string(i % 250) + ".0.1 host" + std::to_string(i) + ".lan\n";
    SetHosts(old);
    const std::vector<std::string> lines = {"0.0.0.0 a.example", "0.0.0.0 b.example", ""};
    std::string added = old;
    AppendBlock(added, lines);
    g_busyPath = m_hosts;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(0, 200000);
    for (int kill = 0; kill < 2; ++kill) {
        const pid_t child = StartRewriting([&] {
            AddBlockAt(m_hosts, lines);
            RemoveBlockAt(m_hosts);
        });
        ::usleep(static_cast<useconds_t>(delay(random)));
        Kill(child);
        // The next write operation repairs what the kill left (a status read would not).
        ASSERT_EQ(EditHostsFile(m_hosts, [](std::string&) { return false; }).outcome,
                  HostsOutcome::Unchanged);
        const std::string now = Hosts();
        ASSERT_TRUE(now == old || now == added) << "torn file after kill " << kill;
        ASSERT_EQ(HiddenFiles(m_dir), std::vector<std::string>()) << "after kill " << kill;
    }
}

TEST_F(InPlace, ReadsDuringRewritesNeverSeeATornFile) {
    // The CR on the first line makes every rewrite move all bytes after it by one: a read that
    // met such a rewrite half way would see neither text.
    std::string old = "127.0.0.1 localhost\r\n";
    for (int i = 0; old.size() < (300u << 10); ++i)
        old += "10.1.0.1 host" + std::to_string(i) + ".lan\n";
    SetHosts(old);
    const std::vector<std::string> lines = {"0.0.0.0 pagead2.googlesyndication.com", ""};
    std::string added = old;
    AppendBlock(added, lines);
    DropCarriageReturns(added);
    const std::string withCr = old;
    DropCarriageReturns(old);
    g_busyPath = m_hosts;
    const pid_t child = StartRewriting(
        [&] {
            AddBlockAt(m_hosts, lines);
            WriteHostsText(m_hosts, withCr, "\n");
        },
        false);
    int seen[3] = {};  // the old text, the new one, neither
    for (int read = 0; read < 500; ++read) {
        const HostsRead hosts = ReadHostsText(m_hosts);
        ++seen[hosts.text == old ? 0 : hosts.text == added ? 1 : 2];
    }
    Kill(child);
    std::cout << seen[0] << " reads saw the old text, " << seen[1] << " the new one\n";
    EXPECT_EQ(seen[2], 0) << "reads saw a torn file";
}

}  // namespace
