// The privileged helper's logic run unprivileged on temporary files: what it refuses, and that
// what it writes is byte for byte what the program writes itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "linux/root/HostsHelper.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/ElevatedHosts.h"
#include "platform/settings/SettingsFileIO.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {
std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A file descriptor reading the given bytes, as the helper's stdin would.
class CInput {
public:
    explicit CInput(const std::string& bytes) {
        char name[] = "/tmp/vantrel-helper-input-XXXXXX";
        m_fd = ::mkstemp(name);
        ::unlink(name);
        EXPECT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::lseek(m_fd, 0, SEEK_SET);
    }
    ~CInput() { ::close(m_fd); }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

const std::string kHosts = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";

class HostsHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vantrel-helper-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_hosts = m_dir + "/hosts";
        WriteAll(m_hosts, kHosts);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    int Run(const std::vector<std::string>& args, const std::string& input = {},
            std::string* report = nullptr) {
        CInput in(input);
        return RunHostsHelper(args, in.Fd(), m_hosts, report);
    }

    std::string m_dir;
    std::string m_hosts;
};
}  // namespace

TEST(HelperInputTest, TakesLinesEndedByLineFeedsWithOnlyTheLastOneEmpty) {
    EXPECT_EQ(ParseHelperInput("0.0.0.0 a.com\n::1 b.org\n\n"),
              (std::vector<std::string>{"0.0.0.0 a.com", "::1 b.org", ""}));
    EXPECT_EQ(ParseHelperInput("\n"), (std::vector<std::string>{""}));
    EXPECT_EQ(ParseHelperInput(HelperInput({"0.0.0.0 a.com", ""})),
              (std::vector<std::string>{"0.0.0.0 a.com", ""}));

    for (const std::string& input :
         {""s, "0.0.0.0 a.com"s, "0.0.0.0 a.com\n\n0.0.0.0 b.com\n"s, "\n\n"s, "0.0.0.0 a.com\r\n"s,
          "0.0.0.0 a.com\n\0\n"s, "0.0.0.0 a.com\n# comment\n"s}) {
        EXPECT_FALSE(ParseHelperInput(input)) << input;
    }
}

TEST(HelperInputTest, RefusesTooManyTooLongOrTooMuch) {
    // As many entry lines as the block may hold, then the settings file's final empty line.
    std::string many;
    for (std::size_t i = 0; i < kMaxBlockLines; ++i)
        many += "0.0.0.0 a" + std::to_string(i) + ".com\n";
    EXPECT_TRUE(ParseHelperInput(many + "\n"));
    std::string why;
    EXPECT_FALSE(ParseHelperInput(many + "0.0.0.0 b.com\n\n", &why));
    EXPECT_EQ(why, "more than 4096 lines");

    // A line of valid names that is still too long.
    std::string line = "0.0.0.0";
    while (line.size() <= kMaxBlockLineLength) line += " " + std::string(60, 'x') + ".com";
    EXPECT_FALSE(ParseHelperInput(line + "\n"));

    const std::string tooMuch(kHelperMaxInput + 1, '\n');
    CInput in(tooMuch);
    EXPECT_FALSE(ReadHelperInput(in.Fd()));
}

TEST_F(HostsHelperTest, RefusesUnknownCommandsAndExtraArguments) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"HIDE"},
                                               {"install"},
                                               {"add"},
                                               {"remove"},
                                               {"toggle"},
                                               {"hide", "extra"},
                                               {"show", "/tmp/other"},
                                               {"hide", "show"},
                                               {"--help"},
                                               {""}}) {
        EXPECT_EQ(Run(args, "0.0.0.0 a.com\n"), kHelperUsage);
    }
    EXPECT_EQ(ReadAll(m_hosts), kHosts);
}

TEST_F(HostsHelperTest, RefusedInputLeavesTheFileAlone) {
    std::string report;
    EXPECT_EQ(Run({"hide"}, "0.0.0.0 a.com\n0.0.0.0 b.com; rm -rf /\n", &report), kHelperBadInput);
    EXPECT_EQ(Run({"hide"}, "", &report), kHelperBadInput);
    // Well-formed, but it would send a name away from this PC with the administrator's consent.
    EXPECT_EQ(Run({"hide"}, "0.0.0.0 a.com\n203.0.113.66 login.mybank.example\n\n", &report),
              kHelperBadInput);
    EXPECT_EQ(Run({"hide"}, "fe80::1 a.com\n", &report), kHelperBadInput);
    EXPECT_EQ(report, "");  // refused before the file was read
    // A list without entry lines would make a block that hides nothing.
    EXPECT_EQ(Run({"hide"}, "\n", &report), kHelperFailed);
    EXPECT_EQ(report, "shown unchanged empty\n");
    std::string why;
    EXPECT_FALSE(ParseHelperInput("0.0.0.0 a.com\n10.0.0.1 b.com\n", &why));
    EXPECT_EQ(
        why,
        "line 2 is not a local address (0.0.0.0, 127.x.x.x, :: or ::1) followed by host names");
    EXPECT_EQ(ReadAll(m_hosts), kHosts);

    // What the settings dialog now saves passes: underscores, IPv6 twins, loopback addresses.
    EXPECT_EQ(Run({"hide"},
                  "0.0.0.0 ad_server.example.com\n:: ad_server.example.com\n"
                  "127.0.0.2 b.example\n::1 b.example\n\n"),
              kHelperOk);
}

TEST_F(HostsHelperTest, WritesExactlyWhatTheProgramWrites) {
    // The program's own write, on a copy, from the shipped settings file in its folder.
    const char* source = std::getenv("VANTREL_TEST_SOURCE_DIR");
    if (source == nullptr) source = VANTREL_SOURCE_DIR_FALLBACK;
    const std::string direct = m_dir + "/direct-hosts";
    WriteAll(direct, kHosts);
    fs::copy_file(std::string(source) + "/res/vantrel_settings.txt",
                  m_dir + "/" + kSettingsFileName);
    const fs::path oldCwd = fs::current_path();
    fs::current_path(m_dir);
    ::setenv("VANTREL_HOSTS_FILE", direct.c_str(), 1);
    CHostsFile hosts;
    EXPECT_TRUE(hosts.ApplyIntent(HostsIntent::Hide));
    const std::optional<std::vector<std::string>> lines = ReadSettingsLines();
    ::unsetenv("VANTREL_HOSTS_FILE");
    fs::current_path(oldCwd);
    ASSERT_TRUE(lines);

    // The helper's write, from the lines the program would send it, and the state it left.
    std::string report;
    EXPECT_EQ(Run({"hide"}, HelperInput(*lines), &report), kHelperOk);
    EXPECT_EQ(report, "hidden changed\n");
    EXPECT_EQ(ReadAll(m_hosts), ReadAll(direct));
    EXPECT_NE(ReadAll(m_hosts).find("# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication.com\n"),
              std::string::npos);

    // Each asks for a state: asked again, it changes nothing. Show needs no input.
    EXPECT_EQ(Run({"hide"}, HelperInput(*lines), &report), kHelperOk);
    EXPECT_EQ(report, "hidden unchanged\n");
    EXPECT_EQ(ReadAll(m_hosts), ReadAll(direct));
    EXPECT_EQ(Run({"show"}, "", &report), kHelperOk);
    EXPECT_EQ(report, "shown changed\n");
    EXPECT_EQ(ReadAll(m_hosts), kHosts);
    EXPECT_EQ(Run({"show"}, "", &report), kHelperOk);
    EXPECT_EQ(report, "shown unchanged\n");
    EXPECT_EQ(ReadAll(m_hosts), kHosts);
}

TEST_F(HostsHelperTest, FailsOnDamagedBlockOrMissingFile) {
    const std::string damaged = kHosts + "# Begin Vantrel\n0.0.0.0 a.com\n";
    WriteAll(m_hosts, damaged);
    std::string report;
    EXPECT_EQ(Run({"show"}, "", &report), kHelperFailed);
    EXPECT_EQ(report, "shown unchanged damaged\n");
    EXPECT_EQ(Run({"hide"}, "0.0.0.0 pagead2.googlesyndication.com\n", &report), kHelperFailed);
    EXPECT_EQ(report, "shown unchanged damaged\n");
    EXPECT_EQ(ReadAll(m_hosts), damaged);

    fs::remove(m_hosts);
    report.clear();
    EXPECT_EQ(Run({"hide"}, "0.0.0.0 a.com\n", &report), kHelperFailed);
    EXPECT_EQ(Run({"show"}, "", &report), kHelperFailed);
    EXPECT_EQ(report, "");
    EXPECT_FALSE(fs::exists(m_hosts));
}
