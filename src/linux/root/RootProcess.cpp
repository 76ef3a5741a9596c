// The privileged helpers' first step: nothing of the calling process's state that survives exec
// (session, terminal, signal dispositions and mask, resource limits, open files, working folder)
// is kept.
#include "linux/root/RootProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <vector>

namespace {

// What a program started on a fresh system gets, where the caller's value could make the helper
// (or apt-get and dpkg under it) fail halfway: a write cut short by SIGXFSZ, a CPU limit's
// SIGXCPU, allocations refused under an address-space or data limit, too few file descriptors. No
// core file: a root process's memory holds the package and the hosts file. The usual 8 MiB stack,
// since an unlimited one changes the memory layout of the programs started from here.
struct Limit {
    int resource;
    rlim_t soft;
    rlim_t hard;
};
const Limit kLimits[] = {
    {RLIMIT_CORE, 0, 0},
    {RLIMIT_FSIZE, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_DATA, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_AS, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_NPROC, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_STACK, 8 * 1024 * 1024, RLIM_INFINITY},
    // The kernel's own defaults for the first process.
    {RLIMIT_NOFILE, 1024, 4096},
};

void SetLimits() {
    for (const Limit& limit : kLimits) {
        rlimit wanted{limit.soft, limit.hard};
        if (::setrlimit(limit.resource, &wanted) == 0) continue;
        // Without privileges no hard limit can be raised: come as near as the caller allows.
        rlimit current{};
        if (::getrlimit(limit.resource, &current) != 0) continue;
        wanted.rlim_max = current.rlim_max;
        if (wanted.rlim_max != RLIM_INFINITY &&
            (wanted.rlim_cur == RLIM_INFINITY || wanted.rlim_cur > wanted.rlim_max))
            wanted.rlim_cur = wanted.rlim_max;
        ::setrlimit(limit.resource, &wanted);
    }
}

void ResetSignals() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = SIG_DFL;
    // An ignored SIGCHLD would let the kernel reap the programs run from here before their
    // status is read; a handled signal is already back at its default after exec.
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) ::sigaction(signal, &action, nullptr);
    }
    // A reader that went away must not end the helper halfway (a write then fails with EPIPE),
    // and a terminal it may still share must neither stop nor end it.
    action.sa_handler = SIG_IGN;
    for (const int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU})
        ::sigaction(signal, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void LeaveSession() {
    if (::setsid() >= 0) return;
    // The leader of a process group cannot start a session, and forking would end the process
    // that pkexec's caller waits for. Giving up the controlling terminal is what remains: the
    // terminal's signals, should they still reach the group, are ignored above.
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return;
    ::ioctl(tty, TIOCNOTTY);
    ::close(tty);
}

void CloseInheritedFiles() {
    // A closed standard descriptor would be taken by the next file opened, whose content would
    // then receive what is meant for standard output or error.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0) continue;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    if (::close_range(3, ~0U, 0) == 0) return;
    // Kernels before 5.9: close what /proc lists, read whole before anything is closed.
    std::vector<int> open;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
            const int fd = std::atoi(entry->d_name);
            if (fd > 2 && fd != own) open.push_back(fd);
        }
        ::closedir(dir);
    }
    for (const int fd : open) ::close(fd);
}

}  // namespace

void LeaveCallerProcessState() {
    CloseInheritedFiles();
    ResetSignals();
    LeaveSession();
    SetLimits();
    ::umask(022);
    // The caller's working folder is nothing a root process should hold open or resolve from.
    [[maybe_unused]] const int moved = ::chdir("/");
}
