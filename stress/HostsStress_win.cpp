// The hosts file's kill and concurrency suites on Windows (run under Wine by scripts/stress.sh):
// togglers killed at random moments never leave a torn file, and presses of Hide and Show from
// several processes at once, beside a program appending lines under the lock, each end as they
// asked, lose no line and never make two blocks. Prints its figures; exits non-zero at the first
// broken promise. The same program is its own child process:
//
//   vantrel_stress_hosts_win crash [kills] [megabytes]
//   vantrel_stress_hosts_win concurrency [rounds]
//   vantrel_stress_hosts_win loop <hosts> <event>      (child) adds and removes a block until
//   killed vantrel_stress_hosts_win press <count>             (child) Hide and Show in turn, in the
//   folder vantrel_stress_hosts_win append <hosts> <count>    (child) a numbered line per locked
//   edit
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/hosts/HostsText.h"
#include "platform/files/FileSys.h"
#include "platform/files/SafeReplace.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsPathForTests_win.h"
#include "platform/system/WideText_win.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::vector<std::string> kLines = {"0.0.0.0 pagead2.googlesyndication.com",
                                         "0.0.0.0 tpc.googlesyndication.com", ""};

void Check(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    std::exit(1);
}

std::string Slurp(const std::string& path) {
    const filesys::File file = filesys::OpenForReading(path);
    const std::optional<std::string> bytes = file.Valid() ? filesys::ReadRest(file) : std::nullopt;
    return bytes ? *bytes : "<unreadable>";
}

void Spit(const std::string& path, const std::string& bytes) {
    filesys::File file = filesys::OpenForWriting(path, nullptr, true, true);
    Check(file.Valid() && filesys::WriteAll(file, bytes) && file.Close(), "write " + path);
}

std::string Written(const std::string& text) {
    std::string bytes;
    AppendWithLineEnds(bytes, text, kTextLineEnd);
    return bytes;
}

// A fresh folder holding the hosts file, the working folder while the suite runs.
std::string MakeScratch() {
    wchar_t temp[MAX_PATH];
    Check(::GetTempPathW(MAX_PATH, temp) != 0, "temp path");
    const std::wstring dir =
        std::wstring(temp) + L"vantrel-stress-" + std::to_wstring(::GetCurrentProcessId());
    Check(::CreateDirectoryW(dir.c_str(), nullptr) != 0, "scratch folder");
    ::SetCurrentDirectoryW(dir.c_str());
    const std::string hosts = WideToUtf8(dir) + "\\hosts";
    SetHostsPathForTests(hosts);
    ::SetEnvironmentVariableW(L"VANTREL_HOSTS_FILE", Utf8ToWide(hosts).c_str());  // for children
    return hosts;
}

bool LeftOvers(const std::string& hosts) {
    return !filesys::NamesStartingWith(filesys::FolderOf(hosts),
                                       filesys::NameOf(filesys::TempFilePrefix(hosts)))
                .empty();
}

// Removes the scratch folder and what is in it (the lock file too).
void RemoveScratch(const std::string& hosts) {
    const std::string folder = filesys::FolderOf(hosts);
    for (const std::string& name : filesys::NamesStartingWith(folder, ""))
        filesys::Remove(filesys::JoinPath(folder, name));
    ::SetCurrentDirectoryW(L"\\");
    ::RemoveDirectoryW(Utf8ToWide(folder).c_str());
}

// Starts this program again with the arguments; inherits handles (the loop's event).
PROCESS_INFORMATION Start(const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    Check(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process) != 0,
          "start a child");
    return process;
}

DWORD Finish(const PROCESS_INFORMATION& process) {
    DWORD code = 1;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return code;
}

void RunKills(int kills, std::size_t megabytes) {
    const std::string hosts = MakeScratch();
    std::string text;
    for (int i = 0; text.size() < (megabytes << 20); ++i)
        text += "10." + std::to_string(i % 250) + ".0.1 host" + std::to_string(i) + ".lan\n";
    std::string added = text;
    AppendBlock(added, kLines);
    const std::string old = Written(text);
    added = Written(added);
    Spit(hosts, old);
    const auto measured = Clock::now();
    Check(AddBlockAt(hosts, kLines).Done() && RemoveBlockAt(hosts).Done(), "toggle");
    const auto cycle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - measured).count();
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(0, cycle);
    int seenNew = 0, midWrite = 0;
    const auto start = Clock::now();
    for (int kill = 0; kill < kills; ++kill) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE ready = ::CreateEventW(&inherit, TRUE, FALSE, nullptr);
        const PROCESS_INFORMATION child =
            Start(L"loop \"" + Utf8ToWide(hosts) + L"\" " +
                  std::to_wstring(reinterpret_cast<std::uintptr_t>(ready)));
        const HANDLE started[] = {ready, child.hProcess};
        ::WaitForMultipleObjects(2, started, FALSE, INFINITE);
        ::CloseHandle(ready);
        ::Sleep(static_cast<DWORD>(delay(random)));
        ::TerminateProcess(child.hProcess, 9);
        Finish(child);
        const std::string now = Slurp(hosts);
        Check(now == old || now == added, "torn file after kill " + std::to_string(kill));
        seenNew += now == added;
        midWrite += LeftOvers(hosts);
    }
    Check(RemoveBlockAt(hosts).Done() && Slurp(hosts) == old && !LeftOvers(hosts),
          "the next operation after the kills");
    RemoveScratch(hosts);
    std::printf(
        "crash (Windows): %d kills of a %zu MB toggle (cycle %lld ms): %d with the block, "
        "%d mid-write, 0 torn, %.1f s\n",
        kills, megabytes, static_cast<long long>(cycle), seenNew, midWrite,
        std::chrono::duration<double>(Clock::now() - start).count());
}

void RunConcurrency(int rounds) {
    const std::string hosts = MakeScratch();
    Spit("vantrel_settings.txt",
         "0.0.0.0 pagead2.googlesyndication.com\r\n0.0.0.0 tpc.googlesyndication.com\r\n");
    std::string base;
    for (int i = 0; i < 200; ++i) base += "10.1.0.1 base" + std::to_string(i) + "\n";
    constexpr int kAppends = 20;
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        Spit(hosts, Written(base));
        std::vector<PROCESS_INFORMATION> children = {
            Start(L"press 10"), Start(L"press 11"),
            Start(L"append \"" + Utf8ToWide(hosts) + L"\" " + std::to_wstring(kAppends))};
        const std::string label = "round " + std::to_string(round);
        for (const PROCESS_INFORMATION& child : children)
            Check(Finish(child) == 0,
                  label + ": a press did not end as it asked, or a line failed");
        std::string text = Slurp(hosts);
        Check(text.compare(0, Written(base).size(), Written(base)) == 0, label + ": lines lost");
        DropCarriageReturns(text);
        for (int i = 0; i < kAppends; ++i) {
            const std::string line = "10.2.0.1 appended" + std::to_string(i) + "\n";
            Check(text.find(line) != std::string::npos && text.find(line) == text.rfind(line),
                  label + ": appended line " + std::to_string(i));
        }
        const std::size_t first = text.find(kBeginMarker);
        Check(first == std::string::npos || text.find(kBeginMarker, first + 1) == std::string::npos,
              label + ": two blocks");
        Check(!LeftOvers(hosts), label + ": leftovers");
    }
    RemoveScratch(hosts);
    std::printf(
        "concurrency (Windows): %d rounds of 2 pressers (21 presses) and a locking "
        "appender (%d lines): each press as asked, no line lost, never two blocks, %.1f s\n",
        rounds, kAppends, std::chrono::duration<double>(Clock::now() - start).count());
}

// Hide and Show in turn, from Show when count is odd; each must end as it asked, and the file
// never holds two blocks.
int Press(int count) {
    for (int i = 0; i < count; ++i) {
        const bool hide = (i + count) % 2 == 0;
        CHostsFile hosts;
        const HostsResult result = hosts.ApplyIntent(hide ? HostsIntent::Hide : HostsIntent::Show);
        if (result.hidden != hide || !result.sentence.empty()) return 1;
        const std::string text = hosts.ReadHostsFile();
        const std::size_t first = text.find(kBeginMarker);
        if (first != std::string::npos && text.find(kBeginMarker, first + 1) != std::string::npos)
            return 1;
    }
    return 0;
}

int Append(const std::string& hosts, int count) {
    for (int i = 0; i < count; ++i) {
        const HostsResult result = EditHostsFile(hosts, [i](std::string& text) {
            if (!text.empty() && text.back() != '\n') text += '\n';
            text += "10.2.0.1 appended" + std::to_string(i) + "\n";
            return true;
        });
        if (result.outcome != HostsOutcome::Written) return 1;
    }
    return 0;
}

int Arg(int argc, wchar_t** argv, int index, int fallback) {
    return argc > index ? std::wcstol(argv[index], nullptr, 10) : fallback;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (const wchar_t* hosts = ::_wgetenv(L"VANTREL_HOSTS_FILE"))
        SetHostsPathForTests(WideToUtf8(hosts));
    if (mode == L"crash") {
        RunKills(Arg(argc, argv, 2, 100), static_cast<std::size_t>(Arg(argc, argv, 3, 20)));
        return 0;
    }
    if (mode == L"concurrency") {
        RunConcurrency(Arg(argc, argv, 2, 20));
        return 0;
    }
    if (mode == L"loop" && argc > 3) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle value passed by the parent
        ::SetEvent(reinterpret_cast<HANDLE>(
            static_cast<std::uintptr_t>(std::wcstoull(argv[3], nullptr, 10))));
        const std::string hosts = WideToUtf8(argv[2]);
        for (;;) {
            AddBlockAt(hosts, kLines);
            RemoveBlockAt(hosts);
        }
    }
    if (mode == L"press" && argc > 2) return Press(Arg(argc, argv, 2, 0));
    if (mode == L"append" && argc > 3) return Append(WideToUtf8(argv[2]), Arg(argc, argv, 3, 0));
    std::fprintf(stderr,
                 "usage: vantrel_stress_hosts_win crash [kills] [megabytes] | "
                 "concurrency [rounds]\n");
    return 2;
}
