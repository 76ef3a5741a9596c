// posix_spawn and waitpid.
#include "platform/system/Spawn_unix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {
std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}
}  // namespace

pid_t StartChild(const ChildSetup& setup) {
    if (setup.argv.empty()) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (setup.inputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, setup.inputFd, STDIN_FILENO);
    } else if (!setup.inputPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, setup.inputPath.c_str(), O_RDONLY,
                                         0);
    }
    if (setup.outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, setup.outputFd, STDOUT_FILENO);
    if (setup.errorFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, setup.errorFd, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args = Pointers(setup.argv);
    std::vector<char*> env =
        setup.environment ? Pointers(*setup.environment) : std::vector<char*>();
    pid_t pid = -1;
    const int started = posix_spawn(&pid, setup.argv[0].c_str(), &actions, &attributes, args.data(),
                                    setup.environment ? env.data() : environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

int WaitForChild(pid_t pid) {
    if (pid < 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunChild(const ChildSetup& setup) {
    return WaitForChild(StartChild(setup));
}
