// Writers killed at random moments while they rewrite the file in place (a bind-mounted file,
// which cannot be renamed over): the next write operation puts the file back whole; and reads,
// which take no lock, while such rewrites go on. The kills during replacements and the concurrent
// writers are in HostsFileContract.h.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "core/hosts/HostsText.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"
#include "platform/system/FileOps_unix.h"

namespace {

std::string g_busyPath;

int RenameBusy(const char* from, const char* to) {
    if (g_busyPath == to) {
        errno = EBUSY;
        return -1;
    }
    return DefaultFileOps().rename(from, to);
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

class Crash : public HostsDirTest {
protected:
    // Toggles a 20 MB file in a child and kills it at random moments.
    void RunKills(int kills) {
        std::string old;
        old.reserve(21 << 20);
        for (int i = 0; old.size() < (20u << 20); ++i) {
            old += "10." + std::to_string(i % 250) + ".0.1 host" + std::to_string(i) + ".lan\n";
        }
        SetHosts(old);
        const std::vector<std::string> lines = {"0.0.0.0 a.example", "0.0.0.0 b.example", ""};
        std::string added = old;
        AppendBlock(added, lines);
        g_busyPath = m_hosts;

        std::mt19937 random(std::random_device{}());
        std::uniform_int_distribution<int> delay(0, 400000);
        int seenNew = 0;
        int leftovers = 0;  // kills that struck mid-write
        for (int kill = 0; kill < kills; ++kill) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                FileOps ops = DefaultFileOps();
                ops.rename = RenameBusy;
                CurrentFileOps() = ops;
                for (;;) {
                    AddBlockAt(m_hosts, lines);
                    RemoveBlockAt(m_hosts);
                }
            }
            ::usleep(static_cast<useconds_t>(delay(random)));
            ::kill(child, SIGKILL);
            WaitFor(child);

            leftovers += !HiddenFiles(m_dir).empty();
            // The next write operation repairs what the kill left (a status read would not).
            ASSERT_EQ(EditHostsFile(m_hosts, [](std::string&) { return EditVerdict::Unchanged; }),
                      EditOutcome::Unchanged);
            const std::string now = Hosts();
            ASSERT_TRUE(now == old || now == added) << "torn file after kill " << kill;
            seenNew += now == added;
            ASSERT_EQ(HiddenFiles(m_dir), std::vector<std::string>()) << "after kill " << kill;
        }
        std::cout << "killed " << kills << " times: " << seenNew << " with the block in place, "
                  << leftovers << " mid-write\n";
    }
};

TEST_F(Crash, KilledInPlaceRewritesAreRepairedByTheNextOperation) {
    RunKills(16);
}

TEST_F(Crash, ReadsDuringRewritesInPlaceNeverSeeATornFile) {
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
    DropCarriageReturns(old);
    g_busyPath = m_hosts;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileOps ops = DefaultFileOps();
        ops.rename = RenameBusy;
        // Flushes do nothing for what a reader sees; without them the writer rewrites far more
        // often.
        ops.fsync = [](int) { return 0; };
        ops.fsyncDir = [](const char*) { return 0; };
        CurrentFileOps() = ops;
        const std::string withCr = Hosts();
        for (;;) {
            AddBlockAt(m_hosts, lines);
            EditHostsFile(m_hosts, [&withCr](std::string& text) {
                text = withCr;
                return EditVerdict::Write;
            });
        }
    }
    int seen[3] = {};  // the old text, the new one, neither
    for (int read = 0; read < 1000; ++read) {
        const HostsRead hosts = ReadHostsText(m_hosts);
        ++seen[hosts.text == old ? 0 : hosts.text == added ? 1 : 2];
    }
    ::kill(child, SIGKILL);
    WaitFor(child);
    std::cout << seen[0] << " reads saw the old text, " << seen[1] << " the new one\n";
    EXPECT_EQ(seen[2], 0) << "reads saw a torn file";
}

}  // namespace
