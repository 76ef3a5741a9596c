// Stress suites of the hosts file: writers killed at random moments, many writers at once with
// another program appending and readers beside a rewrite, and every file-system call failing in
// turn. Prints its figures;
// exits non-zero at the first broken promise.
//
//   vantrel_stress_hosts crash [kills] [inplace-kills] [megabytes]
//   vantrel_stress_hosts concurrency [rounds-of-2] [rounds-of-8] [reads]
//   vantrel_stress_hosts faults
//   vantrel_stress_hosts fulldisk
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/hosts/HostsText.h"
#include "platform/files/FileOps_unix.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    std::cerr << "FAILED: " << what << "\n";
    std::exit(1);
}

void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> HiddenFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name[0] == '.') names.push_back(name);
    }
    return names;
}

// A write operation that changes nothing: it takes the exclusive lock, under which whatever an
// interrupted write left is dealt with.
HostsOutcome NextWrite(const std::string& hosts) {
    return EditHostsFile(hosts, [](std::string&) { return false; }).outcome;
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

bool ExitedCleanly(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A private folder holding the hosts file, the working directory while it lives.
class CScratch {
public:
    explicit CScratch(const std::string& base = std::filesystem::temp_directory_path().string()) {
        std::string pattern = base + "/vantrel-stress-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp in " + base);
        m_dir = pattern;
        m_hosts = m_dir + "/hosts";
        ::setenv("VANTREL_HOSTS_FILE", m_hosts.c_str(), 1);
        std::filesystem::current_path(m_dir);
    }
    ~CScratch() {
        std::filesystem::current_path("/");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    const std::string& Dir() const { return m_dir; }
    const std::string& Hosts() const { return m_hosts; }

private:
    std::string m_dir;
    std::string m_hosts;
};

std::string MakeHostsText(std::size_t bytes) {
    std::string text;
    text.reserve(bytes + 64);
    for (int i = 0; text.size() < bytes; ++i) {
        text += "10." + std::to_string(i % 250) + ".0.1 host" + std::to_string(i) + ".lan\n";
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// 1. Kills

std::string g_busyPath;

int RenameBusy(const char* from, const char* to) {
    if (g_busyPath == to) {
        errno = EBUSY;  // as for a bind-mounted file
        return -1;
    }
    return DefaultFileOps().rename(from, to);
}

// Toggles a large file in a child and kills it at a random moment of the toggle cycle, `kills`
// times. After each kill the file must hold the old or the new bytes (at once when writes go by
// rename; after the next operation when they rewrite in place) and the next operation must
// leave no temporary file or backup behind.
void RunKills(int kills, std::size_t megabytes, bool inPlace) {
    CScratch scratch;
    const std::string& hosts = scratch.Hosts();
    const std::string old = MakeHostsText(megabytes << 20);
    Spit(hosts, old);
    const std::vector<std::string> lines = {"0.0.0.0 pagead2.googlesyndication.com",
                                            "0.0.0.0 tpc.googlesyndication.com", ""};
    std::string added = old;
    AppendBlock(added, lines);
    g_busyPath = hosts;
    FileOps ops = DefaultFileOps();
    if (inPlace) ops.rename = RenameBusy;

    // One add and one remove, measured, so the kills spread over whole cycles.
    double cycle = 0;
    {
        CScopedFileOps scoped(ops);
        const auto start = Clock::now();
        for (int i = 0; i < 3; ++i) {
            Check(AddBlockAt(hosts, lines).Done() && RemoveBlockAt(hosts).Done(),
                  "toggle while measuring");
        }
        cycle = SecondsSince(start) / 3;
    }
    Check(Slurp(hosts) == old, "the file after the measured toggles");

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(0, static_cast<int>(cycle * 2e6));
    int seenNew = 0, midWrite = 0, torn = 0;
    const auto start = Clock::now();
    for (int kill = 0; kill < kills; ++kill) {
        const pid_t child = ::fork();
        Check(child >= 0, "fork");
        if (child == 0) {
            CurrentFileOps() = ops;
            for (;;) {
                AddBlockAt(hosts, lines);
                RemoveBlockAt(hosts);
            }
        }
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(child, SIGKILL);
        WaitFor(child);

        midWrite += !HiddenFiles(scratch.Dir()).empty();
        std::string now = Slurp(hosts);
        if (now != old && now != added) {
            // Allowed only for an in-place rewrite, whose backup the next operation restores.
            Check(inPlace, "torn file after kill " + std::to_string(kill));
            ++torn;
        }
        // The next write repairs what the kill left (a status read never does).
        Check(NextWrite(hosts) == HostsOutcome::Unchanged,
              "write after kill " + std::to_string(kill));
        now = Slurp(hosts);
        Check(now == old || now == added, "torn file after repair, kill " + std::to_string(kill));
        seenNew += now == added;
        Check(HiddenFiles(scratch.Dir()).empty(),
              "leftover file after the next operation, kill " + std::to_string(kill));
    }
    std::printf(
        "crash%s: %d kills of a %zu MB toggle (cycle %.0f ms): %d with the block, %d mid-write,"
        " %d torn until repaired, 0 torn after the next operation, %.1f s\n",
        inPlace ? " (in-place rewrite)" : "", kills, megabytes, cycle * 1e3, seenNew, midWrite,
        torn, SecondsSince(start));
}

// ---------------------------------------------------------------------------------------------
// 2. Concurrency
//
// The appender stands for another program that edits the hosts file. A program that appends
// with O_APPEND and no lock can always lose its line to any read-modify-write that replaces the
// file (ours, an editor's, a package script's): the line lands in the old file after its copy
// was read. What can be promised is that nothing is lost between writers that cooperate, so the
// appender here does what any cooperating writer does: flock the file, check that the path still
// names the file it locked (a replacement by rename makes a new file), append with O_APPEND,
// start the line on a line of its own, and unlock.

bool AppendLocked(const std::string& path, const std::string& line) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat locked {
        }, named{};
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &locked) != 0) {
            ::close(fd);
            return false;
        }
        if (::stat(path.c_str(), &named) != 0 || named.st_ino != locked.st_ino ||
            named.st_dev != locked.st_dev) {
            ::close(fd);  // replaced while we waited
            continue;
        }
        std::string bytes = line;
        char last = '\n';
        if (locked.st_size > 0 && ::pread(fd, &last, 1, locked.st_size - 1) != 1) last = '\n';
        if (last != '\n') bytes.insert(bytes.begin(), '\n');
        const bool ok =
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ::close(fd);  // also unlocks
        return ok;
    }
    return false;
}

// The same without the lock: what a careless program does.
bool AppendCareless(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string bytes = "\n" + line;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
}

struct RoundResult {
    int toggles = 0;
    int appended = 0;
    int lost = 0;
};

// One round: `togglers` processes each press `toggles` times through CHostsFile, asking Hide and
// Show in turn, while one more process appends `appends` lines of its own. With a locking
// appender every press must end in the state it asked for.
RoundResult RunRound(const CScratch& scratch, const std::string& base, int togglers, int toggles,
                     int appends, bool careless, int round) {
    Spit(scratch.Hosts(), base);
    std::vector<pid_t> children;
    for (int t = 0; t < togglers; ++t) {
        const pid_t child = ::fork();
        Check(child >= 0, "fork");
        if (child == 0) {
            for (int i = 0; i < toggles; ++i) {
                const bool hide = (i + t) % 2 == 0;
                CHostsFile hosts;
                const HostsResult result =
                    hosts.ApplyIntent(hide ? HostsIntent::Hide : HostsIntent::Show);
                const bool hidden = result.hidden;
                const std::string text = hosts.ReadHostsFile();
                if (!result.sentence.empty()) ::_exit(2);
                if (Count(text, kBeginMarker) > 1) ::_exit(3);
                if (!careless && hidden != hide) ::_exit(5);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    const pid_t appender = ::fork();
    Check(appender >= 0, "fork");
    if (appender == 0) {
        for (int i = 0; i < appends; ++i) {
            const std::string line =
                "10.2." + std::to_string(round % 250) + ".1 appended" + std::to_string(i) + "\n";
            if (!(careless ? AppendCareless : AppendLocked)(scratch.Hosts(), line)) ::_exit(4);
            ::sched_yield();
        }
        ::_exit(0);
    }
    children.push_back(appender);
    for (pid_t child : children) {
        const int status = WaitFor(child);
        Check(ExitedCleanly(status),
              "round " + std::to_string(round) + ": child ended with " + std::to_string(status));
    }

    const std::string text = Slurp(scratch.Hosts());
    RoundResult result;
    result.toggles = togglers * toggles;
    result.appended = appends;
    Check(text.compare(0, base.size(), base) == 0,
          "round " + std::to_string(round) + ": the original lines changed");
    for (int i = 0; i < appends; ++i) {
        const std::size_t n = Count(text, ".1 appended" + std::to_string(i) + "\n");
        if (!careless) {
            Check(n == 1, "round " + std::to_string(round) + ": appended line " +
                              std::to_string(i) + " found " + std::to_string(n) + " times");
        }
        result.lost += n == 0;
    }
    Check(Count(text, kBeginMarker) <= 1, "round " + std::to_string(round) + ": two blocks");
    Check(ClassifyBlock(text) != BlockState::DamagedBlock,
          "round " + std::to_string(round) + ": damaged block");
    Check(HiddenFiles(scratch.Dir()).empty(), "round " + std::to_string(round) + ": leftovers");
    return result;
}

void RunConcurrency(int roundsOf2, int roundsOf8) {
    CScratch scratch;
    Spit(scratch.Dir() + "/vantrel_settings.txt",
         "0.0.0.0 pagead2.googlesyndication.com\n0.0.0.0 tpc.googlesyndication.com\n");
    std::string base;
    for (int i = 0; i < 200; ++i) base += "10.1.0.1 base" + std::to_string(i) + "\n";

    struct Plan {
        int togglers, rounds, toggles, appends;
        bool careless;
    };
    const Plan plans[] = {{2, roundsOf2, 6, 6, false},
                          {8, roundsOf8, 4, 8, false},
                          {2, std::max(1, roundsOf2 / 10), 6, 6, true}};
    for (const Plan& plan : plans) {
        const auto start = Clock::now();
        RoundResult total;
        for (int round = 0; round < plan.rounds; ++round) {
            const RoundResult r = RunRound(scratch, base, plan.togglers, plan.toggles, plan.appends,
                                           plan.careless, round);
            total.toggles += r.toggles;
            total.appended += r.appended;
            total.lost += r.lost;
        }
        std::printf(
            "concurrency: %d rounds of %d pressers and a%s appender: %d presses%s, %d lines "
            "appended, %d lost%s, never two blocks, %.1f s\n",
            plan.rounds, plan.togglers, plan.careless ? " lockless" : " locking", total.toggles,
            plan.careless ? "" : " each ending as it asked", total.appended, total.lost,
            plan.careless ? " (measured only: a lockless appender cannot be protected)" : "",
            SecondsSince(start));
    }
}

// Reads, which take no lock, while another process rewrites the file in place over and over: the
// CR on the first line makes every rewrite move all bytes after it by one, so a read that met a
// rewrite half way would see neither text.
void RunReadsDuringRewrites(int reads) {
    CScratch scratch;
    std::string withCr = "127.0.0.1 localhost\r\n";
    for (int i = 0; withCr.size() < (300u << 10); ++i)
        withCr += "10.1.0.1 host" + std::to_string(i) + ".lan\n";
    Spit(scratch.Hosts(), withCr);
    const std::vector<std::string> lines = {"0.0.0.0 pagead2.googlesyndication.com", ""};
    std::string old = withCr;
    std::string added = withCr;
    AppendBlock(added, lines);
    DropCarriageReturns(added);
    DropCarriageReturns(old);
    g_busyPath = scratch.Hosts();
    const pid_t child = ::fork();
    Check(child >= 0, "fork");
    if (child == 0) {
        FileOps ops = DefaultFileOps();
        ops.rename = RenameBusy;
        // Flushes do nothing for what a reader sees; without them the writer rewrites more often.
        ops.fsync = [](int) { return 0; };
        ops.fsyncDir = [](const char*) { return 0; };
        CurrentFileOps() = ops;
        for (;;) {
            AddBlockAt(scratch.Hosts(), lines);
            WriteHostsText(scratch.Hosts(), withCr, "\n");
        }
    }
    const auto start = Clock::now();
    int seen[3] = {};  // the old text, the new one, neither
    for (int read = 0; read < reads; ++read) {
        const std::string text = ReadHostsText(scratch.Hosts()).text;
        ++seen[text == old ? 0 : text == added ? 1 : 2];
    }
    ::kill(child, SIGKILL);
    WaitFor(child);
    Check(seen[2] == 0, std::to_string(seen[2]) + " reads saw a torn file");
    std::printf(
        "concurrency: %d reads without a lock during rewrites in place: %d the old text, "
        "%d the new one, none torn, %.1f s\n",
        reads, seen[0], seen[1], SecondsSince(start));
}

// ---------------------------------------------------------------------------------------------
// 3. Injected faults

enum class Call {
    Open,
    Read,
    Write,
    ShortWrite,
    Fsync,
    Ftruncate,
    Fchmod,
    Fchown,
    Rename,
    FsyncDir,
    Close,
    Unlink
};

const char* NameOf(Call call) {
    switch (call) {
        case Call::Open:
            return "open";
        case Call::Read:
            return "read";
        case Call::Write:
            return "write";
        case Call::ShortWrite:
            return "short write";
        case Call::Fsync:
            return "fsync";
        case Call::Ftruncate:
            return "ftruncate";
        case Call::Fchmod:
            return "fchmod";
        case Call::Fchown:
            return "fchown";
        case Call::Rename:
            return "rename";
        case Call::FsyncDir:
            return "folder sync";
        case Call::Close:
            return "close";
        case Call::Unlink:
            return "unlink";
    }
    return "?";
}

// Which call fails, from which occurrence on, and how.
struct Fault {
    Call call = Call::Open;
    int from = 0;         // 1-based occurrence of that call; 0: none fails
    bool sticky = false;  // every later occurrence fails too (a disk that stays full)
    int error = EIO;
    int seen = 0;  // occurrences so far
};
Fault g_fault;
bool g_inPlace = false;
std::string g_hostsPath;

bool Strike(Call call) {
    if (g_fault.call != call) return false;
    // A short write counts and fails the write calls, like a plain write fault.
    const int n = ++g_fault.seen;
    return g_fault.from > 0 && (n == g_fault.from || (g_fault.sticky && n > g_fault.from));
}

int FOpen(const char* p, int f, mode_t m) {
    if (Strike(Call::Open)) return errno = g_fault.error, -1;
    return DefaultFileOps().open(p, f, m);
}
ssize_t FRead(int fd, void* b, size_t n) {
    if (Strike(Call::Read)) return errno = g_fault.error, -1;
    return DefaultFileOps().read(fd, b, n);
}
ssize_t FWrite(int fd, const void* b, size_t n) {
    if (g_fault.call == Call::ShortWrite) {
        // The disk fills up inside this write: part of it lands, the next write finds no room.
        const int k = ++g_fault.seen;
        if (g_fault.from > 0 && k == g_fault.from && n > 1)
            return DefaultFileOps().write(fd, b, n / 2);
        if (g_fault.from > 0 && k > g_fault.from && (g_fault.sticky || k == g_fault.from + 1))
            return errno = ENOSPC, -1;
        return DefaultFileOps().write(fd, b, n);
    }
    if (Strike(Call::Write)) return errno = g_fault.error, -1;
    return DefaultFileOps().write(fd, b, n);
}
int FFsync(int fd) {
    if (Strike(Call::Fsync)) return errno = g_fault.error, -1;
    return DefaultFileOps().fsync(fd);
}
int FFtruncate(int fd, off_t l) {
    if (Strike(Call::Ftruncate)) return errno = g_fault.error, -1;
    return DefaultFileOps().ftruncate(fd, l);
}
int FFchmod(int fd, mode_t m) {
    if (Strike(Call::Fchmod)) return errno = g_fault.error, -1;
    return DefaultFileOps().fchmod(fd, m);
}
int FFchown(int fd, uid_t u, gid_t g) {
    if (Strike(Call::Fchown)) return errno = g_fault.error, -1;
    return DefaultFileOps().fchown(fd, u, g);
}
int FRename(const char* a, const char* b) {
    if (g_inPlace && g_hostsPath == b) return errno = EBUSY, -1;
    if (Strike(Call::Rename)) return errno = g_fault.error, -1;
    return DefaultFileOps().rename(a, b);
}
int FFsyncDir(const char* d) {
    if (Strike(Call::FsyncDir)) return errno = g_fault.error, -1;
    return DefaultFileOps().fsyncDir(d);
}
int FClose(int fd) {
    if (Strike(Call::Close)) {
        DefaultFileOps().close(fd);  // the descriptor is gone all the same, as on Linux
        return errno = g_fault.error, -1;
    }
    return DefaultFileOps().close(fd);
}
int FUnlink(const char* p) {
    if (Strike(Call::Unlink)) return errno = g_fault.error, -1;
    return DefaultFileOps().unlink(p);
}

// The kernel's copy is refused, so every byte of a rewrite goes through FWrite, where faults
// strike.
ssize_t FCopyFileRange(int, off_t*, int, off_t*, size_t, unsigned) {
    return errno = ENOSYS, -1;
}

const FileOps kFaultyOps = {FOpen,      FClose,         FRead,        FWrite,      FFsync,
                            FFtruncate, FFchmod,        FFchown,      FRename,     FUnlink,
                            FFsyncDir,  FCopyFileRange, ::flistxattr, ::fgetxattr, ::fsetxattr};

struct Operation {
    const char* name;
    std::function<bool(const std::string& path)> run;
    std::function<std::string(const std::string& before)> expected;  // the bytes after success
};

struct FaultFigures {
    int runs = 0, failures = 0, successes = 0;
};

// Runs op once with the fault set, then checks the result against the file: false means the
// old bytes (after the next operation, which repairs an interrupted in-place rewrite), true
// means the new bytes. Faults at calls that come before the new content is in place must make
// the operation fail.
void TryFault(const CScratch& scratch, const Operation& op, const std::string& before,
              const Fault& fault, bool mustFail, FaultFigures& figures) {
    Spit(scratch.Hosts(), before);
    g_fault = fault;
    g_fault.seen = 0;
    const bool ok = op.run(scratch.Hosts());
    g_fault = Fault{};
    const std::string label = std::string(op.name) + (g_inPlace ? " in place" : " by rename") +
                              ": " + NameOf(fault.call) + " #" + std::to_string(fault.from) +
                              (fault.sticky ? " and after" : "") + " (" +
                              std::strerror(fault.error) + ")";
    const std::string after = op.expected(before);
    NextWrite(scratch.Hosts());  // the next write repairs what an interruption left
    const std::string now = Slurp(scratch.Hosts());
    ++figures.runs;
    if (ok) {
        ++figures.successes;
        Check(!mustFail, label + ": reported success");
        Check(now == after, label + ": reported success but the file does not hold the new bytes");
    } else {
        ++figures.failures;
        Check(now == before, label + ": reported failure but the original is not byte-identical");
    }
    Check(HiddenFiles(scratch.Dir()).empty(), label + ": leftover files after the next operation");
}

// How many times each call happens in a fault-free run of op.
std::vector<int> CountCalls(const CScratch& scratch, const Operation& op,
                            const std::string& before) {
    std::vector<int> counts;
    for (int c = 0; c <= static_cast<int>(Call::Unlink); ++c) {
        Spit(scratch.Hosts(), before);
        g_fault = Fault{};
        g_fault.call = static_cast<Call>(c);
        Check(op.run(scratch.Hosts()), std::string(op.name) + " without faults");
        counts.push_back(g_fault.seen);
        g_fault = Fault{};
    }
    return counts;
}

void RunFaults() {
    CScratch scratch;
    g_hostsPath = scratch.Hosts();
    CScopedFileOps scoped(kFaultyOps);
    const std::vector<std::string> lines = {"0.0.0.0 pagead2.googlesyndication.com", ""};
    // Large enough that the streaming edit reads and writes in several pieces.
    const std::string plain = MakeHostsText(3u << 20);
    std::string withBlock = plain;
    AppendBlock(withBlock, lines);
    const std::string replacement = "127.0.0.1 localhost\n";

    const Operation ops[] = {
        {"AddBlockAt", [&](const std::string& p) { return AddBlockAt(p, lines).Done(); },
         [&](const std::string&) { return withBlock; }},
        {"RemoveBlockAt", [](const std::string& p) { return RemoveBlockAt(p).Done(); },
         [&](const std::string&) { return plain; }},
        {"WriteHostsText",
         [&](const std::string& p) { return WriteHostsText(p, replacement).Done(); },
         [&](const std::string&) { return replacement; }},
    };
    const auto start = Clock::now();
    FaultFigures figures;
    int cases = 0;
    for (const bool inPlace : {false, true}) {
        g_inPlace = inPlace;
        for (const Operation& op : ops) {
            const std::string& before = std::string(op.name) == "RemoveBlockAt" ? withBlock : plain;
            const std::vector<int> counts = CountCalls(scratch, op, before);
            for (int c = 0; c <= static_cast<int>(Call::Unlink); ++c) {
                const Call call = static_cast<Call>(c);
                const int total = counts[static_cast<std::size_t>(
                    call == Call::ShortWrite ? static_cast<int>(Call::Write) : c)];
                for (int n = 1; n <= total; ++n) {
                    for (const bool sticky : {false, true}) {
                        for (const int error : {EIO, ENOSPC}) {
                            if (call == Call::ShortWrite && error == EIO) continue;
                            // Before the new bytes are in place every failure must be
                            // reported. After it (the folder flush that follows a rename, the
                            // removal of the backup), success is the truth.
                            bool mustFail = true;
                            if (call == Call::FsyncDir || call == Call::Unlink) mustFail = false;
                            // An owner or mode that cannot be given means writing in place.
                            if (call == Call::Fchmod || call == Call::Fchown) mustFail = false;
                            if (call == Call::Close) mustFail = false;  // see TryFault's checks
                            Fault fault;
                            fault.call = call;
                            fault.from = n;
                            fault.sticky = sticky;
                            fault.error = error;
                            TryFault(scratch, op, before, fault, mustFail, figures);
                            ++cases;
                        }
                    }
                }
            }
        }
    }
    g_inPlace = false;
    std::printf(
        "faults: %d injected faults (each call of open, read, write, short write, fsync, "
        "ftruncate, fchmod, fchown, rename, folder sync, close, unlink; once and from then on; EIO "
        "and ENOSPC) in AddBlockAt, RemoveBlockAt and WriteHostsText, by rename and in place: "
        "%d reported failure with the original intact, %d succeeded with the new bytes, %.1f s\n",
        cases, figures.failures, figures.successes, SecondsSince(start));
}

// A real full disk: a small tmpfs in a private mount namespace (root only), the hosts file
// taking most of it, also bind-mounted onto itself so that rename is refused.
int RunFullDisk() {
    if (::geteuid() != 0) {
        std::printf("fulldisk: skipped (needs root for a private tmpfs)\n");
        return 0;
    }
    const pid_t child = ::fork();
    Check(child >= 0, "fork");
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            std::printf("fulldisk: skipped (no private mount namespace: %s)\n",
                        std::strerror(errno));
            ::_exit(0);
        }
        std::string dir = "/tmp/vantrel-fulldisk-XXXXXX";
        Check(::mkdtemp(dir.data()) != nullptr, "mkdtemp");
        Check(::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=4m,mode=0755") == 0, "mount tmpfs");
        const std::string hosts = dir + "/hosts";
        const std::vector<std::string> lines(200, "0.0.0.0 pagead2.googlesyndication.com");
        int cases = 0;
        for (const bool bindMount : {false, true}) {
            for (const std::size_t kb : {1500, 2044, 2200, 3900}) {
                std::filesystem::remove(hosts);
                const std::string before = MakeHostsText(kb << 10);
                Spit(hosts, before);
                if (Slurp(hosts) != before) continue;  // did not fit at all
                if (bindMount)
                    Check(::mount(hosts.c_str(), hosts.c_str(), nullptr, MS_BIND, nullptr) == 0,
                          "bind mount");
                std::string after = before;
                AppendBlock(after, lines);
                const bool ok = AddBlockAt(hosts, lines).Done();
                NextWrite(hosts);
                const std::string now = Slurp(hosts);
                const std::string label = std::string("full tmpfs") +
                                          (bindMount ? ", bind-mounted file, " : ", ") +
                                          std::to_string(kb) + " KiB file";
                Check(ok ? now == after : now == before, label + ": result and content disagree");
                Check(ok || kb > 1900, label + ": failed although it fits");
                Check(HiddenFiles(dir).empty(), label + ": leftover files");
                std::printf("fulldisk: %s: %s\n", label.c_str(),
                            ok ? "added (it fit)" : "refused, original intact");
                if (bindMount) ::umount(hosts.c_str());
                ++cases;
            }
        }
        ::umount(dir.c_str());
        ::rmdir(dir.c_str());
        std::printf("fulldisk: %d cases on a real 4 MiB tmpfs\n", cases);
        ::_exit(0);
    }
    const int status = WaitFor(child);
    Check(ExitedCleanly(status), "fulldisk child");
    return 0;
}

int Arg(int argc, char** argv, int index, int fallback) {
    return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string suite = argc > 1 ? argv[1] : "";
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (suite == "crash") {
        const int kills = Arg(argc, argv, 2, 1000);
        const int inPlaceKills = Arg(argc, argv, 3, 100);
        const auto megabytes = static_cast<std::size_t>(Arg(argc, argv, 4, 20));
        RunKills(kills, megabytes, false);
        if (inPlaceKills > 0) RunKills(inPlaceKills, megabytes, true);
        return 0;
    }
    if (suite == "concurrency") {
        RunConcurrency(Arg(argc, argv, 2, 200), Arg(argc, argv, 3, 50));
        RunReadsDuringRewrites(Arg(argc, argv, 4, 2000));
        return 0;
    }
    if (suite == "faults") {
        RunFaults();
        return 0;
    }
    if (suite == "fulldisk") return RunFullDisk();
    std::fprintf(stderr, "usage: %s crash|concurrency|faults|fulldisk [sizes]\n", argv[0]);
    return 2;
}
