// The program's side of the helper: what reaches pkexec and the helper, and how their exit is
// read. A stand-in pkexec, named through the seam, runs a stand-in helper that records what it
// was given and answers what the test says. (Which file goes through the helper at all:
// pkexec-test.sh, MainDialogTest and browsers_e2e.sh.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "linux/root/HostsHelper.h"
#include "platform/hosts/ElevatedHosts.h"
#include "platform/hosts/HostsPath.h"
#include "platform/hosts/HostsTestSupport.h"

namespace {

void WriteScript(const std::string& path, const std::string& text) {
    std::ofstream(path) << "#!/bin/sh\n" << text;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

class ElevatedHosts : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        WriteScript(m_dir + "/pkexec", "exec \"$@\"\n");
        WriteScript(m_dir + "/helper",
                    "printf '%s\\n' \"$@\" >args\necho \"$*\" >>calls\ncat >stdin\n"
                    "cat report 2>/dev/null\nexit $(cat status)\n");
        Answer(0, "");
        SetPkexecPathForTests(m_dir + "/pkexec");
        SetHostsHelperPath(m_dir + "/helper");
        SetApprovedBlockPathForTests(m_dir + "/approved-block");
    }
    void TearDown() override {
        SetPkexecPathForTests({});
        SetHostsHelperPath({});
        SetApprovedBlockPathForTests({});
        HostsDirTest::TearDown();
    }
    void Answer(int status, const std::string& report) {
        Spit(m_dir + "/status", std::to_string(status) + "\n");
        Spit(m_dir + "/report", report);
    }
    std::string Got(const char* what) const { return Slurp(m_dir + "/" + what); }
};

TEST_F(ElevatedHosts, APressHandsTheHelperItsCommandAndLinesAndTakesTheStateItReports) {
    // The state comes from the helper's answer, not from the file (which does not exist here).
    const std::string none = m_dir + "/no-hosts";
    Answer(kHelperOk, "hidden changed\n");
    HostsResult result = ApplyIntentThroughHelper(none, HostsIntent::Hide, {"0.0.0.0 a.com", ""});
    EXPECT_EQ(Got("args"), "hide\n");
    EXPECT_EQ(Got("stdin"), "0.0.0.0 a.com\n\n");
    EXPECT_TRUE(result.hidden && result.changed && result.Done() && result.sentence.empty());

    // Show is the user's own step and sends no lines; a refusal the helper names is told in the
    // program's words.
    Answer(kHelperFailed, "hidden unchanged damaged\n");
    result = ApplyIntentThroughHelper(none, HostsIntent::Show, {"0.0.0.0 a.com", ""});
    EXPECT_EQ(Got("args"), "approved\nshow\n");
    EXPECT_EQ(Got("stdin"), "");
    EXPECT_TRUE(result.hidden && !result.changed && !result.Done());
    EXPECT_EQ(result.sentence, kDamagedBlockText);
    Answer(kHelperFailed, "shown unchanged empty\n");
    EXPECT_EQ(ApplyIntentThroughHelper(none, HostsIntent::Hide, {""}).sentence, kEmptyListText);

    // Busy keeps its sentence; without a report the file says what it holds.
    Answer(kHelperBusy, "");
    result = ApplyIntentThroughHelper(none, HostsIntent::Hide, {""});
    EXPECT_TRUE(!result.hidden && !result.changed && result.outcome == HostsOutcome::Busy);
    EXPECT_EQ(result.sentence, kHostsBusyText);
    for (const char* line : {"hidden changed", "hidden maybe\n", "hidden changed damaged empty\n"})
        EXPECT_FALSE(ParseHelperReport(line)) << line;
}

TEST_F(ElevatedHosts, OnlyAListThatIsNotTheApprovedBlockGoesToTheAdministrator) {
    const std::vector<std::string> lines = {"0.0.0.0 a.com", ""};
    Spit(m_dir + "/approved-block", HelperInput(lines));
    Answer(kHelperOk, "hidden changed\n");
    EXPECT_TRUE(ApplyIntentThroughHelper(m_hosts, HostsIntent::Hide, lines).Done());
    EXPECT_EQ(Got("stdin"), "");
    // Another list (or address) needs the administrator, and so does an approval the helper no
    // longer finds.
    const std::vector<std::string> other = {"127.0.0.1 a.com", ""};
    ApplyIntentThroughHelper(m_hosts, HostsIntent::Hide, other);
    EXPECT_EQ(Got("stdin"), HelperInput(other));
    Answer(kHelperNotApproved, "");
    EXPECT_EQ(ApplyIntentThroughHelper(m_hosts, HostsIntent::Hide, lines).sentence,
              kNotApprovedText);
    EXPECT_EQ(Got("calls"), "approved hide\nhide\napproved hide\nhide\n");
}

TEST_F(ElevatedHosts, EveryFailureButADismissedPasswordIsExplained) {
    Answer(kHelperBadInput, "");
    EXPECT_EQ(RunHelperElevated({"hide"}, {"203.0.113.66 a.com"}), kHelperBadInput);
    EXPECT_NE(HelperFailureText(kHelperBadInput).find("refused the domain list"),
              std::string::npos);
    Answer(kHelperFailed, "");
    EXPECT_EQ(HelperFailureText(RunHelperElevated({"approved", "show"}, {})),
              "The hosts file could not be changed.");
    EXPECT_EQ(HelperFailureText(kPkexecNotAuthorized),
              "The hosts file was not changed: the permission to change it was not given.");
    // pkexec's status when the authentication is dismissed: the user knows. It never reads the
    // lines, which must not kill the program however many there are.
    WriteScript(m_dir + "/pkexec", "exit 126\n");
    const std::vector<std::string> many(200000, "0.0.0.0 some-long-domain-name.example.com");
    EXPECT_EQ(RunHelperElevated({"hide"}, many), kPkexecDismissed);
    EXPECT_EQ(HelperFailureText(kPkexecDismissed), "");
    EXPECT_EQ(ApplyIntentThroughHelper(m_hosts, HostsIntent::Hide, many).outcome,
              HostsOutcome::Denied);

    // No pkexec, or no helper: not run, and said so.
    SetPkexecPathForTests(m_dir + "/no-pkexec");
    EXPECT_EQ(RunHelperElevated({"approved", "show"}, {}), kHelperNotRun);
    EXPECT_NE(HelperFailureText(kHelperNotRun).find("pkexec"), std::string::npos);
    SetPkexecPathForTests(m_dir + "/pkexec");
    SetHostsHelperPath(m_dir + "/missing-helper");
    EXPECT_NE(RunHelperElevated({"approved", "show"}, {}), kHelperOk);
}

}  // namespace
