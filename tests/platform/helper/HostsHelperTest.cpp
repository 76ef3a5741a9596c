// The privileged helper's logic run unprivileged on temporary files: what it refuses. (That it
// writes byte for byte what the program writes: pkexec-test.sh.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "linux/root/HostsHelper.h"
#include "platform/hosts/HostsTestSupport.h"

using namespace std::string_literals;

namespace {

// A file descriptor reading the given bytes, as the helper's stdin would.
class Input {
public:
    explicit Input(const std::string& bytes) {
        char name[] = "/tmp/vantrel-helper-input-XXXXXX";
        m_fd = ::mkstemp(name);
        ::unlink(name);
        EXPECT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::lseek(m_fd, 0, SEEK_SET);
    }
    ~Input() { ::close(m_fd); }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

const std::string kHosts = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";

class HostsHelper : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        SetHosts(kHosts);
    }
    int Run(const std::vector<std::string>& args, const std::string& input = {},
            std::string* report = nullptr) {
        Input in(input);
        return RunHostsHelper(args, in.Fd(), m_hosts, Approved(), report);
    }
    std::string Approved() const { return m_dir + "/lib/approved-block"; }
};

TEST(HelperInput, TakesBlockLinesEachEndedByALineFeedAndLeavesCommentsOut) {
    EXPECT_EQ(ParseHelperInput(HelperInput({"0.0.0.0 a.com", "::1 b.org", ""})),
              (std::vector<std::string>{"0.0.0.0 a.com", "::1 b.org", ""}));
    EXPECT_EQ(ParseHelperInput("\n"), (std::vector<std::string>{""}));
    EXPECT_EQ(ParseHelperInput("# ads\n0.0.0.0 a.com\n\n0.0.0.0 b.com\n"),
              (std::vector<std::string>{"0.0.0.0 a.com", "0.0.0.0 b.com"}));
    for (const std::string& input :
         {""s, "0.0.0.0 a.com"s, "0.0.0.0 a.com\r\n"s, "0.0.0.0 a.com\n\0\n"s, "# End Vantrel\n"s})
        EXPECT_FALSE(ParseHelperInput(input)) << input;

    // As many entry lines as the block may hold, then the settings file's final empty line.
    std::string many;
    for (std::size_t i = 0; i < kMaxBlockLines; ++i)
        many += "0.0.0.0 a" + std::to_string(i) + ".com\n";
    EXPECT_TRUE(ParseHelperInput(many + "\n"));
    std::string why;
    EXPECT_FALSE(ParseHelperInput(many + "0.0.0.0 b.com\n\n", &why));
    EXPECT_EQ(why, "more than 4096 lines");
    EXPECT_FALSE(ParseHelperInput("0.0.0.0 a.com\n10.0.0.1 b.com\n", &why));
    EXPECT_EQ(
        why,
        "line 2 is not a local address (0.0.0.0, 127.x.x.x, :: or ::1) followed by host names");
    Input tooMuch(std::string(kHelperMaxInput + 1, '\n'));
    EXPECT_FALSE(ReadHelperInput(tooMuch.Fd()));
}

TEST_F(HostsHelper, RefusesOtherCommandsAndInputThatMayNotGoIntoTheFile) {
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{}, Args{"HIDE"}, Args{"show"}, Args{"hide", "extra"},
                             Args{"approved"}, Args{"approved", "hide", "x"}, Args{""}})
        EXPECT_EQ(Run(args, "0.0.0.0 a.com\n"), kHelperUsage);
    std::string report;
    // Well-formed or not, none of these may send a name away from this PC.
    for (const char* input : {"0.0.0.0 b.com; rm -rf /\n", "",
                              "203.0.113.66 login.mybank.example\n", "fe80::1 a.com\n"})
        EXPECT_EQ(Run({"hide"}, input, &report), kHelperBadInput) << input;
    EXPECT_EQ(report, "");  // refused before the file was read
    // A list without entry lines would make a block that hides nothing.
    EXPECT_EQ(Run({"hide"}, "\n", &report), kHelperFailed);
    EXPECT_EQ(report, "shown unchanged empty\n");
    EXPECT_EQ(Hosts(), kHosts);
}

TEST_F(HostsHelper, TheUsersOwnStepTakesNoLinesAndOnlyABlockNobodyElseCouldHaveWritten) {
    // Nothing approved yet.
    EXPECT_EQ(Run({"approved", "hide"}), kHelperNotApproved);
    const std::string list = "0.0.0.0 pagead2.googlesyndication.com\n\n";
    ASSERT_EQ(Run({"hide"}, list), kHelperOk);
    ASSERT_EQ(Run({"approved", "show"}), kHelperOk);
    // Lines through the user's own step are refused, whatever they are.
    for (const char* command : {"hide", "show"})
        EXPECT_EQ(Run({"approved", command}, list), kHelperUsage) << command;
    EXPECT_EQ(Hosts(), kHosts);

    // A link is not followed, and a new approval replaces it instead of writing through it.
    const std::string elsewhere = m_dir + "/elsewhere";
    Spit(elsewhere, "0.0.0.0 ads.example.com\n");
    std::filesystem::remove(Approved());
    std::filesystem::create_symlink(elsewhere, Approved());
    EXPECT_EQ(Run({"approved", "hide"}), kHelperNotApproved);
    ASSERT_EQ(Run({"hide"}, list), kHelperOk);
    EXPECT_EQ(Slurp(elsewhere), "0.0.0.0 ads.example.com\n");
    EXPECT_FALSE(std::filesystem::is_symlink(Approved()));
    // The file so replaced is trusted; spoilt in any of these ways, it is not.
    ASSERT_EQ(Run({"approved", "show"}), kHelperOk);
    ASSERT_EQ(Run({"approved", "hide"}), kHelperOk);
    ASSERT_EQ(Run({"approved", "show"}), kHelperOk);
    const std::string folder = m_dir + "/lib";
    for (const auto& [path, bad, good] :
         {std::tuple{Approved(), 0666, 0644}, std::tuple{folder, 0777, 0755}}) {
        ::chmod(path.c_str(), bad);
        EXPECT_EQ(Run({"approved", "hide"}), kHelperNotApproved) << path;
        ::chmod(path.c_str(), good);
    }
    if (::geteuid() == 0 && ::chown(Approved().c_str(), 65534, 0) == 0) {
        EXPECT_EQ(Run({"approved", "hide"}), kHelperNotApproved);
    }
    EXPECT_EQ(Hosts(), kHosts);
}

TEST_F(HostsHelper, FailsOnADamagedBlockOrAMissingFile) {
    const std::string damaged = kHosts + "# Begin Vantrel\n0.0.0.0 a.com\n";
    SetHosts(damaged);
    std::string report;
    EXPECT_EQ(Run({"approved", "show"}, "", &report), kHelperFailed);
    EXPECT_EQ(report, "shown unchanged damaged\n");
    EXPECT_EQ(Run({"hide"}, "0.0.0.0 pagead2.googlesyndication.com\n", &report), kHelperFailed);
    EXPECT_EQ(report, "shown unchanged damaged\n");
    EXPECT_EQ(Hosts(), damaged);

    std::filesystem::remove(m_hosts);
    report.clear();
    EXPECT_EQ(Run({"hide"}, "0.0.0.0 a.com\n", &report), kHelperFailed);
    EXPECT_EQ(Run({"approved", "show"}, "", &report), kHelperFailed);
    EXPECT_EQ(report, "");
    EXPECT_FALSE(std::filesystem::exists(m_hosts));
}

}  // namespace
