// The privileged helpers' first step, in a child process that first takes on the state a hostile
// or careless caller could hand over: blocked and ignored signals, a low file-size limit, an
// extra open file, a closed standard input, its own process group.
#include "linux/root/RootProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char* const kChecks[] = {
    "SIGTSTP is not ignored",      "SIGPIPE is not ignored",     "SIGCHLD is not at its default",
    "a signal is still blocked",   "an inherited file is open",  "standard input is closed",
    "core files are allowed",      "the file-size limit stayed", "not in a session of its own",
    "the working folder is not /",
};

bool Ignored(int signal) {
    struct sigaction action {};
    return ::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

// Runs in the child: the failed checks, one bit each.
int CheckAfterwards(bool groupLeader) {
    int failed = 0;
    const auto check = [&](int bit, bool ok) {
        if (!ok) failed |= 1 << bit;
    };
    check(0, Ignored(SIGTSTP));
    check(1, Ignored(SIGPIPE));
    struct sigaction child {};
    ::sigaction(SIGCHLD, nullptr, &child);
    check(2, child.sa_handler == SIG_DFL);
    sigset_t blocked;
    ::sigprocmask(SIG_SETMASK, nullptr, &blocked);
    check(3, !sigismember(&blocked, SIGTERM));
    check(4, ::fcntl(50, F_GETFD) < 0);
    check(5, ::fcntl(STDIN_FILENO, F_GETFD) >= 0);
    rlimit limit{};
    ::getrlimit(RLIMIT_CORE, &limit);
    check(6, limit.rlim_cur == 0);
    ::getrlimit(RLIMIT_FSIZE, &limit);
    check(7, limit.rlim_cur == RLIM_INFINITY);
    // A group leader cannot start a session; it keeps its group, without the terminal.
    check(8, groupLeader || ::getsid(0) == ::getpid());
    check(9, std::filesystem::current_path() == "/");
    // Ctrl-Z in the caller's terminal: this must not stop the helper (the parent sees a stop).
    ::kill(::getpid(), SIGTSTP);
    return failed;
}

// Forks a child that takes on the caller's state, makes the helper's first step and checks it.
std::vector<std::string> FailedChecks(bool groupLeader) {
    int report[2];
    if (::pipe(report) != 0) return {"no pipe"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The checks' answer comes on standard output, which the step keeps.
        ::dup2(report[1], STDOUT_FILENO);
        if (groupLeader) ::setpgid(0, 0);
        ::signal(SIGCHLD, SIG_IGN);
        ::signal(SIGTSTP, SIG_DFL);
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &mask, nullptr);
        const rlimit small{4096, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const rlimit core{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_CORE, &core);
        ::dup2(STDOUT_FILENO, 50);
        ::close(STDIN_FILENO);
        LeaveCallerProcessState();
        const int failed = CheckAfterwards(groupLeader);
        ::_exit(::write(STDOUT_FILENO, &failed, sizeof failed) == sizeof failed ? 0 : 1);
    }
    ::close(report[1]);
    int failed = -1;
    const bool read = ::read(report[0], &failed, sizeof failed) == sizeof failed;
    ::close(report[0]);
    int status = 0;
    ::waitpid(pid, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return {"SIGTSTP stopped it"};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !read) return {"no answer"};
    std::vector<std::string> names;
    for (std::size_t bit = 0; bit < std::size(kChecks); ++bit) {
        if (failed & (1 << bit)) names.push_back(kChecks[bit]);
    }
    return names;
}

TEST(RootProcess, NothingOfTheCallersProcessStateIsKept) {
    EXPECT_EQ(FailedChecks(false), std::vector<std::string>{});
    EXPECT_EQ(FailedChecks(true), std::vector<std::string>{});
}

}  // namespace
