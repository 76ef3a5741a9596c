// Browser processes through /proc: the executable's name, the owner and the parent of each.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/browsers/BrowserProcesses.h"

namespace {

std::string ProcPath(const std::string& procRoot, int pid, const char* entry) {
    return procRoot + "/" + std::to_string(pid) + "/" + entry;
}

// The parent's id and the one-letter state from /proc/PID/stat; the command name in its
// parentheses may itself hold blanks and parentheses, so the fields are read after the last ')'.
bool ReadStat(const std::string& procRoot, int pid, char& state, int& parent) {
    std::ifstream file(ProcPath(procRoot, pid, "stat"));
    std::string text;
    if (!std::getline(file, text)) return false;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(text.substr(close + 1));
    return static_cast<bool>(fields >> state >> parent);
}

// The real user id from /proc/PID/status.
std::optional<unsigned> OwnerOf(const std::string& procRoot, int pid) {
    std::ifstream file(ProcPath(procRoot, pid, "status"));
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            unsigned uid = 0;
            if (fields >> uid) return uid;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<Browser> BrowserOfProcess(const std::string& procRoot, int pid) {
    const std::optional<std::string> program = ProgramOfProcess(pid, procRoot);
    return program ? BrowserOfProgram(*program) : std::nullopt;
}

}  // namespace

std::optional<std::string> ProgramOfProcess(int pid, const std::string& procRoot) {
    std::error_code error;
    const std::filesystem::path exe =
        std::filesystem::read_symlink(ProcPath(procRoot, pid, "exe"), error);
    if (error) return std::nullopt;
    std::string name = exe.filename().string();
    // A browser updated while it runs still runs the old, now deleted, file.
    constexpr std::string_view kDeleted = " (deleted)";
    if (name.ends_with(kDeleted)) name.resize(name.size() - kDeleted.size());
    return name;
}

bool ProcessRunning(int pid, const std::string& procRoot) {
    char state = 0;
    int parent = 0;
    return ReadStat(procRoot, pid, state, parent) && state != 'Z' && state != 'X';
}

std::vector<BrowserProcess> FindBrowserProcesses(const std::string& procRoot) {
    std::vector<BrowserProcess> found;
    const unsigned self = ::getuid();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot, error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int pid = std::stoi(name);
        if (OwnerOf(procRoot, pid) != self) continue;
        const std::optional<Browser> browser = BrowserOfProcess(procRoot, pid);
        if (!browser) continue;
        char state = 0;
        int parent = 0;
        if (!ReadStat(procRoot, pid, state, parent) || state == 'Z') continue;
        if (BrowserOfProcess(procRoot, parent) == browser) continue;
        found.push_back({*browser, pid});
    }
    return found;
}

bool EndsGracefullyOnRequest(Browser browser) {
    return browser != Browser::Firefox && browser != Browser::InternetExplorer;
}

bool AskProcessToEnd(int pid) {
    return pid > 0 && ::kill(pid, SIGTERM) == 0;
}
