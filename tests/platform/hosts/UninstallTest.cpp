// The built program with "-uninstall": the block goes and it ends with status 0 without any
// display; every other form of the argument is a normal start that leaves the file alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/hosts/HostsTestSupport.h"

extern char** environ;

namespace {

struct ProgramRun {
    bool exited = false;
    int status = -1;
    std::string errors;  // what it wrote on stderr
};

// Starts the program with args in dir; gives up on it (SIGKILL) after patienceMs.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& extraEnv, int patienceMs) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
            entry.rfind("QT_QPA_PLATFORM=", 0) == 0) {
            continue;
        }
        env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    const std::string program = BinaryDir() + "/src/vantrel";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string errors = dir + "/.stderr";
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::dup2(fd, 2) != 2) ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ProgramRun run;
    for (int waited = 0;; waited += 20) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            run.exited = WIFEXITED(status);
            run.status = run.exited ? WEXITSTATUS(status) : -1;
            run.errors = Slurp(errors);
            std::filesystem::remove(errors);
            return run;
        }
        if (waited >= patienceMs) break;
        ::usleep(20000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return run;
}

class Uninstall : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        if (!std::filesystem::exists(BinaryDir() + "/src/vantrel"))
            GTEST_SKIP() << "vantrel not built";
    }
};

TEST_F(Uninstall, RemovesTheBlockWithoutADisplayAndRewritesNothingWithoutOne) {
    SetHosts(
        "127.0.0.1 localhost\r\n# Begin Vantrel\r\n0.0.0.0 googlesyndication.com\r\n\r\n# End "
        "Vantrel");
    ProgramRun run = RunProgram({"-uninstall"}, m_dir, {"VANTREL_HOSTS_FILE=" + m_hosts}, 60000);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n");

    SetHosts("127.0.0.1 localhost\r\n");
    const ino_t inode = InodeOf(m_hosts);
    run = RunProgram({"-uninstall", "extra"}, m_dir, {"VANTREL_HOSTS_FILE=" + m_hosts}, 60000);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");
    EXPECT_EQ(InodeOf(m_hosts), inode);
}

TEST_F(Uninstall, ABlockThatStaysIsAFailureWithOneLineOnStandardError) {
    // A begin marker without an end marker: nothing can be cut, and the block is still there.
    const std::string damaged = "127.0.0.1 localhost\n# Begin Vantrel\n0.0.0.0 a.example\n";
    SetHosts(damaged);
    ProgramRun run = RunProgram({"-uninstall"}, m_dir, {"VANTREL_HOSTS_FILE=" + m_hosts}, 60000);
    EXPECT_TRUE(run.exited);
    // 2: no second run removes it; the line says which lines to delete by hand.
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors, "vantrel: the block in " + m_hosts +
                              " is damaged: line 2 is \"# Begin Vantrel\", but no \"# End "
                              "Vantrel\" follows it, so Vantrel cannot tell where its block ends "
                              "and left the file as it is. Edit the file as an administrator: "
                              "delete line 2, and line 3 if Vantrel added it (an ad domain sent "
                              "to a local address), then save it.\n");
    EXPECT_EQ(Hosts(), damaged);

    // No hosts file at all: no block remains.
    std::filesystem::remove(m_hosts);
    run = RunProgram({"-uninstall"}, m_dir, {"VANTREL_HOSTS_FILE=" + m_hosts}, 60000);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
}

TEST_F(Uninstall, OnlyTheFirstOfTwoBlocksGoesAndTheSecondIsReported) {
    // Near and far: the second block in the same read as the first, and many reads behind it.
    for (const int filler : {0, 20000}) {
        SCOPED_TRACE(filler);
        std::string between;
        for (int i = 0; i < filler; ++i) between += "127.0.0.1 kept.example\n";
        const std::string second = "# Begin Vantrel\n0.0.0.0 b.example\n# End Vantrel\n";
        SetHosts("127.0.0.1 localhost\n# Begin Vantrel\n0.0.0.0 a.example\n# End Vantrel\n" +
                 between + second);
        const ProgramRun run =
            RunProgram({"-uninstall"}, m_dir, {"VANTREL_HOSTS_FILE=" + m_hosts}, 60000);
        EXPECT_EQ(run.status, 2);
        const std::string lines = std::to_string(3 + filler) + " to " + std::to_string(5 + filler);
        EXPECT_EQ(run.errors, "vantrel: " + m_hosts + " holds another Vantrel block, at lines " +
                                  lines +
                                  " (\"# Begin Vantrel\" to \"# End Vantrel\"), which Vantrel "
                                  "did not remove. Edit the file as an administrator: delete "
                                  "lines " +
                                  lines + ", then save it.\n");
        EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n\n" + between + second);
    }
}

TEST_F(Uninstall, OtherFormsAreANormalStartThatLeavesTheFileAlone) {
    const std::string text = "127.0.0.1 localhost\r\n# Begin Vantrel\r\n0.0.0.0 x\r\n# End Vantrel";
    SetHosts(text);
    const ino_t inode = InodeOf(m_hosts);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-Uninstall"}, {"/uninstall"}, {"uninstall"}, {"x", "-uninstall"}, {"-uninstall "}}) {
        SCOPED_TRACE(args.front());
        RunProgram(args, m_dir, {"VANTREL_HOSTS_FILE=" + m_hosts, "QT_QPA_PLATFORM=offscreen"},
                   1500);
        EXPECT_EQ(Hosts(), text);
        EXPECT_EQ(InodeOf(m_hosts), inode);
    }
}

}  // namespace
