// The program's side of the helper: what reaches pkexec and the helper, and how their exit is
// read. A stand-in pkexec in PATH runs a stand-in helper that records what it was given.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/hosts/HostsText.h"
#include "linux/root/HostsHelper.h"
#include "platform/hosts/ElevatedHosts.h"

namespace fs = std::filesystem;

namespace {
std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteScript(const fs::path& path, const std::string& text) {
    std::ofstream(path) << "#!/bin/sh\n" << text;
    fs::permissions(path, fs::perms::owner_all);
}

class ElevatedHostsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vantrel-elevated-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        fs::create_directory(m_dir / "bin");
        WriteScript(m_dir / "bin" / "pkexec", "exec \"$@\"\n");
        WriteScript(m_dir / "helper",
                    "printf '%s\\n' \"$@\" >'" + (m_dir / "args").string() + "'\ncat >'" +
                        (m_dir / "stdin").string() + "'\ncat '" + (m_dir / "report").string() +
                        "' 2>/dev/null\nexit $(cat '" + (m_dir / "status").string() + "')\n");
        SetStatus(0);
        const char* path = std::getenv("PATH");
        m_strOldPath = path != nullptr ? path : "";
        ::setenv("PATH", ((m_dir / "bin").string() + ":" + m_strOldPath).c_str(), 1);
        SetHostsHelperPath((m_dir / "helper").string());
    }
    void TearDown() override {
        ::setenv("PATH", m_strOldPath.c_str(), 1);
        SetHostsHelperPath({});
        fs::remove_all(m_dir);
    }
    void SetStatus(int status) { std::ofstream(m_dir / "status") << status << "\n"; }

    fs::path m_dir;
    std::string m_strOldPath;
};
}  // namespace

TEST_F(ElevatedHostsTest, HandsTheHelperItsCommandAndTheLinesOnStdin) {
    EXPECT_EQ(RunHelperElevated("hide", {"0.0.0.0 a.com", "::1 b.org", ""}), kHelperOk);
    EXPECT_EQ(ReadAll(m_dir / "args"), "hide\n");
    EXPECT_EQ(ReadAll(m_dir / "stdin"), "0.0.0.0 a.com\n::1 b.org\n\n");

    EXPECT_EQ(RunHelperElevated("show", {}), kHelperOk);
    EXPECT_EQ(ReadAll(m_dir / "args"), "show\n");
    EXPECT_EQ(ReadAll(m_dir / "stdin"), "");
}

TEST_F(ElevatedHostsTest, APressTakesTheStateTheHelperReports) {
    // The state comes from the helper's answer, not from the file (which does not exist here).
    const std::string none = (m_dir / "no-hosts").string();
    std::ofstream(m_dir / "report") << "hidden changed\n";
    ElevatedChange change =
        ApplyIntentThroughHelper(none, HostsIntent::Hide, {"0.0.0.0 a.com", ""});
    EXPECT_EQ(ReadAll(m_dir / "args"), "hide\n");
    EXPECT_EQ(ReadAll(m_dir / "stdin"), "0.0.0.0 a.com\n\n");
    EXPECT_TRUE(change.hidden && change.changed && change.done && change.why.empty());

    // Show sends no lines; a refusal the helper names is told in the program's words.
    SetStatus(kHelperFailed);
    std::ofstream(m_dir / "report") << "hidden unchanged damaged\n";
    change = ApplyIntentThroughHelper(none, HostsIntent::Show, {"0.0.0.0 a.com", ""});
    EXPECT_EQ(ReadAll(m_dir / "args"), "show\n");
    EXPECT_EQ(ReadAll(m_dir / "stdin"), "");
    EXPECT_TRUE(change.hidden && !change.changed && !change.done);
    EXPECT_EQ(change.why, kDamagedBlockText);
    std::ofstream(m_dir / "report") << "shown unchanged empty\n";
    change = ApplyIntentThroughHelper(none, HostsIntent::Hide, {""});
    EXPECT_EQ(change.why, kEmptyListText);

    // Busy keeps its sentence; without a report the file says what it holds.
    SetStatus(kHelperBusy);
    fs::remove(m_dir / "report");
    change = ApplyIntentThroughHelper(none, HostsIntent::Hide, {""});
    EXPECT_TRUE(!change.hidden && !change.changed && !change.done);
    EXPECT_EQ(change.why, kHostsBusyText);
    EXPECT_FALSE(ParseHelperReport("hidden changed"));
    EXPECT_FALSE(ParseHelperReport("hidden maybe\n"));
    EXPECT_FALSE(ParseHelperReport("hidden changed damaged empty\n"));
}

TEST_F(ElevatedHostsTest, EveryFailureButADismissedPasswordIsExplained) {
    SetStatus(kHelperBadInput);
    EXPECT_EQ(RunHelperElevated("hide", {"203.0.113.66 a.com"}), kHelperBadInput);
    EXPECT_NE(HelperFailureText(kHelperBadInput).find("refused the domain list"),
              std::string::npos);
    SetStatus(kHelperFailed);
    EXPECT_EQ(HelperFailureText(RunHelperElevated("show", {})),
              "The hosts file could not be changed.");
    EXPECT_EQ(HelperFailureText(kPkexecNotAuthorized),
              "The hosts file was not changed: the permission to change it was not given.");
    // pkexec's status when the authentication is dismissed: the user knows. It never reads the
    // lines, which must not kill the program however many there are.
    WriteScript(m_dir / "bin" / "pkexec", "exit 126\n");
    const std::vector<std::string> many(200000, "0.0.0.0 some-long-domain-name.example.com");
    EXPECT_EQ(RunHelperElevated("hide", many), kPkexecDismissed);
    EXPECT_EQ(HelperFailureText(kPkexecDismissed), "");
    EXPECT_EQ(HelperFailureText(kHelperOk), "");
}

TEST_F(ElevatedHostsTest, NoPkexecOrNoHelperIsNotRun) {
    ::setenv("PATH", m_dir.c_str(), 1);  // holds no pkexec
    EXPECT_EQ(RunHelperElevated("show", {}), kHelperNotRun);
    EXPECT_NE(HelperFailureText(kHelperNotRun).find("pkexec"), std::string::npos);
    ::setenv("PATH", ((m_dir / "bin").string() + ":" + m_strOldPath).c_str(), 1);
    SetHostsHelperPath((m_dir / "missing-helper").string());
    EXPECT_NE(RunHelperElevated("show", {}), kHelperOk);
}

TEST(ElevatedHostsPathTest, OnlyTheSystemFileOfAnotherUserThanRootGoesThroughTheHelper) {
    // Any other file (a sandbox named by VANTREL_HOSTS_FILE) is written directly: the helper
    // could only ever write /etc/hosts.
    EXPECT_FALSE(HostsNeedHelper("/tmp/some-sandbox-hosts"));
    EXPECT_EQ(HostsNeedHelper("/etc/hosts"), ::geteuid() != 0);
}

TEST(ElevatedHostsPathTest, TheHelperIsLookedForBesideTheProgram) {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(HostsHelperPath(), (self.parent_path() / "vantrel-hosts-helper").string());
}
