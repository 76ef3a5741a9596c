// A private folder per test, the hosts file inside it named through SetHostsPathForTests and the
// folder as the working directory, plus byte-exact file helpers, the environment and child
// processes, on the Win32 API.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/hosts/HostsPathForTests_win.h"
#include "platform/system/WideText_win.h"

inline std::string Slurp(const std::string& path) {
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string data;
    char buffer[1 << 16];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    ::CloseHandle(file);
    return data;
}

inline void Spit(const std::string& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
    ::CloseHandle(file);
}

inline bool Exists(const std::string& path) {
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every LF as CR LF: the bytes a Windows text file holds.
inline std::string CrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The names that a wildcard pattern ("folder\\name*") matches.
inline std::vector<std::string> Matching(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(Utf8ToWide(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(WideToUtf8(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// The writer's temporary files in the folder (its lock file stays and is not one of them).
inline std::vector<std::string> TempFiles(const std::string& dir) {
    return Matching(dir + "\\.*vantrel-tmp-*");
}

// The folder the running test program lives in; the helper programs are built beside it.
inline std::string ProgramDir() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    return WideToUtf8(path.substr(0, path.find_last_of(L"\\/")));
}

// A path in double quotes, for a command line.
inline std::string Quoted(const std::string& path) {
    return '"' + path + '"';
}

inline void SetEnv(const wchar_t* name, const std::string& value) {
    // _wputenv_s changes the run-time's copy as well as the process's, so _wgetenv sees it.
    ::_wputenv_s(name, Utf8ToWide(value).c_str());
}

// The environment variable's value as UTF-8; "" when it is not set. (Only the tests read the
// environment: the program never does.)
inline std::string EnvironmentUtf8(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value != nullptr ? WideToUtf8(value) : std::string();
}

// The hosts file a test works on when it names none of its own: one that does not exist (CTest
// names it in VANTREL_HOSTS_FILE), never the prefix's. Set for every test program before main.
inline std::string NoHostsFile() {
    const std::string named = EnvironmentUtf8(L"VANTREL_HOSTS_FILE");
    if (!named.empty()) return named;
    wchar_t temp[MAX_PATH];
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    return WideToUtf8(std::wstring(temp, length < MAX_PATH ? length : 0)) +
           "vantrel-no-such-hosts-file";
}
inline const bool g_bNoHostsFileByDefault = (SetHostsPathForTests(NoHostsFile()), true);

struct ChildRun {
    DWORD exitCode = 0;
    std::string error;  // what it wrote to its standard error
};

// Starts a program with a command line (program path quoted first) and no window. It inherits
// the inheritable handles when it is given a pipe for its standard error or when asked to.
inline PROCESS_INFORMATION StartChild(const std::string& commandLine, HANDLE errorPipe = nullptr,
                                      bool inheritHandles = false) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (errorPipe != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = errorPipe;
    }
    PROCESS_INFORMATION process{};
    // Wine, busy, now and then fails to start a process at the first try (an internal error).
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring line = Utf8ToWide(commandLine);
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr,
                             errorPipe != nullptr || inheritHandles, 0, nullptr, nullptr, &startup,
                             &process)) {
            return process;
        }
        if (::GetLastError() != ERROR_INTERNAL_ERROR) break;
        ::Sleep(200);
    }
    ADD_FAILURE() << "cannot start " << commandLine << ": error " << ::GetLastError();
    return process;
}

// Waits for a started program to end; its exit status. The handles are closed.
inline DWORD AwaitExit(const PROCESS_INFORMATION& process) {
    DWORD code = 0;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return code;
}

// Runs a program to its end, its standard error captured.
inline ChildRun RunChild(const std::string& commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ChildRun run;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "no pipe";
        return run;
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const PROCESS_INFORMATION process = StartChild(commandLine, writeEnd);
    ::CloseHandle(writeEnd);
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.error.append(buffer, got);
    ::CloseHandle(readEnd);
    if (process.hProcess != nullptr) run.exitCode = AwaitExit(process);
    return run;
}

// A window of another process, once it shows; null after `seconds`.
inline HWND AwaitWindow(const wchar_t* title, int seconds = 30) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (const HWND found = ::FindWindowW(nullptr, title)) return found;
        ::Sleep(100);
    }
    return nullptr;
}

class HostsDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
        static unsigned s_counter = 0;
        for (int attempt = 0; attempt < 100 && m_dir.empty(); ++attempt) {
            const std::wstring dir = std::wstring(temp) + L"vantrel-hosts-" +
                                     std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(s_counter++);
            if (::CreateDirectoryW(dir.c_str(), nullptr)) m_dir = WideToUtf8(dir);
        }
        ASSERT_FALSE(m_dir.empty());
        m_hosts = m_dir + "\\hosts";
        wchar_t cwd[MAX_PATH];
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        m_oldCwd = cwd;
        ::SetCurrentDirectoryW(Utf8ToWide(m_dir).c_str());
        // In this process through the test seam; test programs it starts read the variable.
        m_noHostsFile = NoHostsFile();
        SetHostsPathForTests(m_hosts);
        SetEnv(L"VANTREL_HOSTS_FILE", m_hosts);
    }
    void TearDown() override {
        ::SetCurrentDirectoryW(m_oldCwd.c_str());
        SetEnv(L"VANTREL_HOSTS_FILE", m_noHostsFile);
        SetHostsPathForTests(m_noHostsFile);
        WIN32_FIND_DATAW found{};
        const std::wstring dir = Utf8ToWide(m_dir);
        const HANDLE search = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring file = dir + L"\\" + found.cFileName;
                ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(file.c_str());
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryW(dir.c_str());
    }
    std::string Hosts() const { return Slurp(m_hosts); }
    void SetHosts(const std::string& bytes) const { Spit(m_hosts, bytes); }
    void SetSettings(const std::string& bytes) const {
        Spit(m_dir + "\\vantrel_settings.txt", bytes);
    }

    std::string m_dir;
    std::string m_hosts;
    std::string m_noHostsFile;
    std::wstring m_oldCwd;
};
