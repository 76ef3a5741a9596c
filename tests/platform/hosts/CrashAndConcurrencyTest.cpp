// Writers killed at random moments and writers running at once: the hosts file is always
// whole (old bytes or new bytes), nothing anyone wrote is lost, and there is never a second block.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/FileOps.h"
#include "platform/HostsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"

namespace {

std::string g_busyPath;

int RenameBusy(const char* from, const char* to) {
    if (g_busyPath == to) {
        errno = EBUSY;
        return -1;
    }
    return DefaultFileOps().rename(from, to);
}

std::size_t Count(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t pos = text.find(what); pos != std::string::npos;
         pos = text.find(what, pos + 1)) {
        ++count;
    }
    return count;
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
    void RunKills(bool inPlace, int kills) {
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
                if (inPlace) ops.rename = RenameBusy;
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
            if (!inPlace) {
                // A rename is atomic: the file is whole even before anyone repairs anything.
                const std::string now = Hosts();
                ASSERT_TRUE(now == old || now == added) << "torn file after kill " << kill;
            }
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

TEST_F(Crash, KilledTogglesNeverLeaveATornFile) {
    RunKills(false, 24);
}

TEST_F(Crash, KilledInPlaceRewritesAreRepairedByTheNextOperation) {
    RunKills(true, 16);
}

using Concurrency = HostsDirTest;

TEST_F(Concurrency, TwoTogglersAndAnAppenderLoseNothing) {
    std::string base;
    for (int i = 0; i < 200; ++i) base += "10.1.0.1 base" + std::to_string(i) + "\n";
    SetHosts(base);
    SetSettings("0.0.0.0 pagead2.googlesyndication.com\n0.0.0.0 tpc.googlesyndication.com\n");
    constexpr int kAppends = 40;

    std::vector<pid_t> children;
    for (int toggler = 0; toggler < 2; ++toggler) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 40; ++i) {
                CHostsFile hosts;
                const bool ok = hosts.IsBlockActive() ? hosts.RemoveBlock() : hosts.AddBlock();
                const std::string text = hosts.ReadHostsFile();
                if (!ok || Count(text, kBeginMarker) > 1) ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    const pid_t appender = ::fork();
    ASSERT_GE(appender, 0);
    if (appender == 0) {
        for (int i = 0; i < kAppends; ++i) {
            const EditOutcome outcome = EditHostsFile(m_hosts, [i](std::string& text) {
                if (!text.empty() && text.back() != '\n') text += '\n';
                text += "10.2.0.1 appended" + std::to_string(i) + "\n";
                return EditVerdict::Write;
            });
            if (outcome != EditOutcome::Written) ::_exit(1);
        }
        ::_exit(0);
    }
    children.push_back(appender);
    for (pid_t child : children) {
        const int status = WaitFor(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
    }

    const std::string text = Hosts();
    EXPECT_EQ(text.substr(0, base.size()), base);
    for (int i = 0; i < kAppends; ++i) {
        EXPECT_EQ(Count(text, "10.2.0.1 appended" + std::to_string(i) + "\n"), 1u) << i;
    }
    EXPECT_LE(Count(text, kBeginMarker), 1u);
    EXPECT_NE(ClassifyBlock(text), BlockState::DamagedBlock);
    EXPECT_EQ(HiddenFiles(m_dir), std::vector<std::string>());
}

}  // namespace
