// The setup program and its uninstaller in the Wine prefix, as a user meets them: install, add a
// block, edit the settings, remove the program; then what was the user's is still there and
// nothing of Vantrel is left (the hosts block included). An installation whose program still
// runs is upgraded in win_upgrade_test.
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "core/hosts/HostsText.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsService_win.h"
#include "platform/system/ProcessTree_win.h"
#include "support/WinTestSupport.h"

namespace {

const wchar_t kEntry[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantrel";

std::string ProgramFilesDir() {
    wchar_t path[MAX_PATH];
    EXPECT_EQ(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path), S_OK);
    return WideToUtf8(path) + "\\Vantrel";
}

std::string ShortcutPath() {
    wchar_t path[MAX_PATH];
    EXPECT_EQ(::SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, path), S_OK);
    return WideToUtf8(path) + "\\Vantrel.lnk";
}

struct Shortcut {
    std::string target;
    std::string workingDir;
};

Shortcut ReadShortcut(const std::string& path) {
    Shortcut result;
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))))
        return result;
    IPersistFile* file = nullptr;
    wchar_t text[MAX_PATH] = L"";
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(Utf8ToWide(path).c_str(), STGM_READ))) {
            if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0)))
                result.target = WideToUtf8(text);
            if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
                result.workingDir = WideToUtf8(text);
        }
        file->Release();
    }
    link->Release();
    return result;
}

// A value of the "Apps and features" entry (64-bit view); "<missing>" without entry or value.
std::string EntryValue(const wchar_t* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEntry, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return "<missing>";
    wchar_t text[1024];
    DWORD size = sizeof text;
    DWORD type = 0;
    std::string value = "<missing>";
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
        ERROR_SUCCESS) {
        DWORD number = 0;
        std::memcpy(&number, text, sizeof number);
        value = type == REG_SZ ? WideToUtf8(std::wstring(text, size / sizeof(wchar_t) - 1))
                               : std::to_string(number);
    }
    ::RegCloseKey(key);
    return value;
}

std::string UserAddress() {
    wchar_t text[256];
    DWORD size = sizeof text;
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Vantrel", L"m_IPAddress", RRF_RT_REG_SZ,
                       nullptr, text, &size) != ERROR_SUCCESS)
        return "<missing>";
    return WideToUtf8(text);
}

void SetUserAddress(const std::string& address) {
    const std::wstring text = Utf8ToWide(address);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vantrel", L"m_IPAddress", REG_SZ,
                                text.c_str(), static_cast<DWORD>((text.size() + 1) * 2)),
              ERROR_SUCCESS);
}

// What Vantrel keeps beside the hosts file: its lock file and temporary files.
std::vector<std::string> VantrelFilesBeside(const std::string& hosts) {
    return Matching(hosts.substr(0, hosts.find_last_of('\\')) + "\\.hosts.vantrel*");
}

// A message box of another process whose text holds `part`, once it shows; null after a while.
HWND AwaitMessageBox(const std::wstring& part) {
    struct Search {
        const std::wstring& part;
        HWND found = nullptr;
    } search{part};
    for (int i = 0; i < 300 && search.found == nullptr; ++i) {
        ::EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                auto* s = reinterpret_cast<Search*>(context);
                wchar_t text[4096] = L"";
                // A message box's text is its static control 0xFFFF.
                ::GetDlgItemTextW(window, 0xFFFF, text, 4096);
                if (std::wstring(text).find(s->part) == std::wstring::npos) return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) ::Sleep(100);
    }
    return search.found;
}

// One exchange on the service's pipe as any local program may make it: `bytes` sent, then all
// that comes back until the service closes its end.
std::string Exchange(const std::string& bytes) {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 3 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = ::CreateFileW(kHostsPipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        // Between two clients the next instance may not be there yet.
        if (pipe == INVALID_HANDLE_VALUE) ::WaitNamedPipeW(kHostsPipeName, 2000);
    }
    if (pipe == INVALID_HANDLE_VALUE) return "<no pipe>";
    DWORD moved = 0;
    ::WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &moved, nullptr);
    std::string reply;
    char buffer[256];
    while (::ReadFile(pipe, buffer, sizeof buffer, &moved, nullptr) && moved > 0)
        reply.append(buffer, moved);
    ::CloseHandle(pipe);
    return reply;
}

// Whether the service is registered: in the service manager, and its key in the registry.
bool ServiceRegistered() {
    HKEY key = nullptr;
    const bool inRegistry =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\VantrelHosts", 0,
                        KEY_READ, &key) == ERROR_SUCCESS;
    if (inRegistry) ::RegCloseKey(key);
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service = ::OpenServiceW(manager, kHostsServiceName, SERVICE_QUERY_STATUS);
    if (service != nullptr) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return inRegistry || service != nullptr;
}

void StopService() {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service =
        ::OpenServiceW(manager, kHostsServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    EXPECT_TRUE(::ControlService(service, SERVICE_CONTROL_STOP, &status));
    while (::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED)
        ::Sleep(100);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitialize(nullptr);
        m_hosts = DefaultHostsPath();
        m_savedHosts = Slurp(m_hosts);
        ASSERT_NE(m_savedHosts, "<missing>");
        m_savedAddress = UserAddress();
        m_dir = ProgramFilesDir();
        m_setup = ProgramDir() + "\\..\\..\\vantrel-setup-" VANTREL_VERSION ".exe";
        ASSERT_TRUE(Exists(m_setup)) << m_setup;
        m_shipped = CrLf(Slurp(VANTREL_SOURCE_DIR "\\res\\vantrel_settings.txt"));
        ASSERT_NE(m_shipped, CrLf("<missing>"));
        // What a run that failed halfway left in the prefix goes first.
        if (Exists(File("unins000.exe"))) Uninstall("/S _?=" + m_dir);
        ::DeleteFileW(Utf8ToWide(File("vantrel_settings.txt")).c_str());
        ::DeleteFileW(Utf8ToWide(File("unins000.exe")).c_str());
        ::RemoveDirectoryW(Utf8ToWide(m_dir).c_str());
        ASSERT_FALSE(Exists(m_dir)) << "an earlier run left " << m_dir;
    }
    void TearDown() override {
        Spit(m_hosts, m_savedHosts);
        if (m_savedAddress == "<missing>") {
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Vantrel", L"m_IPAddress");
        } else {
            SetUserAddress(m_savedAddress);
        }
        ::CoUninitialize();
    }

    std::string File(const char* name) const { return m_dir + "\\" + name; }

    DWORD Setup() const { return RunChild(Quoted(m_setup) + " /S").exitCode; }

    // As "Apps and features" and an upgrade run it: waited for to its very end.
    DWORD Uninstall(const std::string& arguments) const {
        const ProcessTreeRun run = RunProcessTree(
            Utf8ToWide(Quoted(File("unins000.exe")) + " " + arguments), std::wstring());
        EXPECT_TRUE(run.bStarted);
        return run.exitCode;
    }

    std::string m_hosts;
    std::string m_savedHosts;
    std::string m_savedAddress;
    std::string m_dir;
    std::string m_setup;
    std::string m_shipped;
};

TEST_F(Installer, InstallsRemovesAndKeepsWhatTheUserMade) {
    ASSERT_EQ(Setup(), 0u);
    EXPECT_EQ(Slurp(File("vantrel.exe")),
              Slurp(ProgramDir() + "\\..\\..\\src\\windows\\vantrel.exe"));
    EXPECT_EQ(Slurp(File("vantrel-service.exe")),
              Slurp(ProgramDir() + "\\..\\..\\src\\windows\\vantrel-service.exe"));
    EXPECT_NE(HostsServiceProcessId(), 0u);
    EXPECT_EQ(Slurp(File("vantrel_settings.txt")), m_shipped);
    EXPECT_EQ(Slurp(File("help.txt")), CrLf(Slurp(VANTREL_SOURCE_DIR "\\res\\help-windows.txt")));
    const Shortcut shortcut = ReadShortcut(ShortcutPath());
    EXPECT_EQ(shortcut.target, File("vantrel.exe"));
    EXPECT_EQ(shortcut.workingDir, m_dir);
    EXPECT_EQ(EntryValue(L"DisplayName"), "Vantrel");
    EXPECT_EQ(EntryValue(L"Publisher"), "Vantrel");
    EXPECT_EQ(EntryValue(L"DisplayVersion"), VANTREL_VERSION);
    EXPECT_EQ(EntryValue(L"DisplayIcon"), File("vantrel.exe") + ",0");
    EXPECT_EQ(EntryValue(L"UninstallString"), Quoted(File("unins000.exe")));
    EXPECT_GT(std::stoul(EntryValue(L"EstimatedSize")), 10u);

    // The user hides the ads, adds a domain and changes the address.
    const std::string mine = "127.0.0.1 localhost\r\n";
    Spit(m_hosts, mine);
    ASSERT_TRUE(AddBlockAt(m_hosts, {"0.0.0.0 pagead2.googlesyndication.com", ""}).Done());
    const std::string edited = m_shipped + "0.0.0.0 ads.example\r\n";
    Spit(File("vantrel_settings.txt"), edited);
    SetUserAddress("127.0.0.2");

    // What a write that was stopped halfway left beside the hosts file goes too.
    const std::string etc = m_hosts.substr(0, m_hosts.find_last_of('\\'));
    Spit(etc + "\\.hosts.vantrel-tmp-1-2-3", "0.0.0.0 half.example\r\n");
    ASSERT_EQ(Uninstall("/SILENT"), 0u);
    EXPECT_EQ(Slurp(m_hosts), mine);
    EXPECT_EQ(VantrelFilesBeside(m_hosts), std::vector<std::string>());
    for (const char* name : {"vantrel.exe", "vantrel-service.exe", "help.txt", "unins000.exe"})
        EXPECT_FALSE(Exists(File(name))) << name;
    EXPECT_FALSE(Exists(ShortcutPath()));
    EXPECT_EQ(EntryValue(L"DisplayName"), "<missing>");
    EXPECT_EQ(Slurp(File("vantrel_settings.txt")), edited);
    EXPECT_EQ(UserAddress(), "127.0.0.2");

    // Installed again, the program finds the user's list as it was.
    ASSERT_EQ(Setup(), 0u);
    EXPECT_EQ(Slurp(File("vantrel_settings.txt")), edited);
    EXPECT_TRUE(Exists(File("unins000.exe")));

    // A block that cannot be removed stops the silent uninstaller before it deletes anything.
    // (Run in place, "_?=", the uninstaller's own exit status is the caller's to see.)
    const std::string damaged = mine + "# Begin Vantrel\r\n0.0.0.0 x.example\r\n";
    Spit(m_hosts, damaged);
    EXPECT_EQ(Uninstall("/SILENT _?=" + m_dir), 3u);
    EXPECT_EQ(Slurp(m_hosts), damaged);
    EXPECT_TRUE(Exists(File("vantrel.exe")));
    EXPECT_EQ(EntryValue(L"DisplayName"), "Vantrel");

    // With its windows, it says what is wrong, with which lines of which file, and asks: No keeps
    // everything (Yes: the Windows end-to-end test).
    const PROCESS_INFORMATION run = StartChild(Quoted(File("unins000.exe")) + " _?=" + m_dir);
    const HWND confirm = AwaitWindow(L"Vantrel " VANTREL_VERSION_W L" Uninstall: Confirmation");
    ASSERT_NE(confirm, nullptr);
    ::SendMessageW(::GetDlgItem(confirm, IDOK), BM_CLICK, 0, 0);
    const HWND box = AwaitMessageBox(L"could not remove its block");
    ASSERT_NE(box, nullptr);
    wchar_t text[4096] = L"";
    ::GetDlgItemTextW(box, 0xFFFF, text, 4096);
    EXPECT_NE(WideToUtf8(text).find("the block in " + m_hosts +
                                    " is damaged: line 2 is \"# Begin Vantrel\", but no \"# End "
                                    "Vantrel\" follows it"),
              std::string::npos)
        << WideToUtf8(text);
    EXPECT_NE(WideToUtf8(text).find("delete line 2, and line 3 if Vantrel added it"),
              std::string::npos);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, IDNO)));
    EXPECT_EQ(AwaitExit(run), 3u);
    EXPECT_EQ(Slurp(m_hosts), damaged);
    EXPECT_TRUE(Exists(File("vantrel.exe")));
    EXPECT_EQ(EntryValue(L"DisplayName"), "Vantrel");

    // With the shipped list, nothing is left at all: no service, no pipe.
    Spit(m_hosts, mine);
    Spit(File("vantrel_settings.txt"), m_shipped);
    ASSERT_NE(HostsServiceProcessId(), 0u);
    ASSERT_EQ(Uninstall("/S"), 0u);
    EXPECT_FALSE(ServiceRegistered());
    EXPECT_EQ(Exchange("status\n"), "<no pipe>");
    EXPECT_FALSE(Exists(m_dir));
    EXPECT_FALSE(Exists(ShortcutPath()));
    EXPECT_EQ(EntryValue(L"DisplayName"), "<missing>");
    EXPECT_EQ(Slurp(m_hosts), mine);
}

// Only inside Program Files, which only administrators can change: a folder elsewhere is
// refused before anything is written (from the folder page: the Windows end-to-end test).
TEST_F(Installer, InstallsOnlyInsideProgramFiles) {
    const std::string outside = "C:\\Vantrel";
    for (const std::string& folder : {outside, m_dir + "\\..\\..\\Vantrel"}) {
        EXPECT_EQ(RunChild(Quoted(m_setup) + " /S /D=" + folder).exitCode, 2u) << folder;
    }
    EXPECT_FALSE(Exists(outside));
    EXPECT_FALSE(Exists(m_dir));
    EXPECT_EQ(EntryValue(L"DisplayName"), "<missing>");
}

// The installed service as any local program meets its pipe: anything but one of its requests is
// refused with one line, a client that says nothing is dropped while others are served, and the
// service goes on. It builds the block from the installed list, as a press always did. Stopped,
// it leaves the window its sentence and the file as it was.
TEST_F(Installer, TheServiceAnswersItsRequestsOnly) {
    ASSERT_EQ(Setup(), 0u);
    const std::string mine = "127.0.0.1 localhost\r\n";
    Spit(m_hosts, mine);
    const std::string refused = std::string(kServiceRefusedText) + "\n";
    EXPECT_EQ(Exchange("delete\n"), refused);
    EXPECT_EQ(Exchange("hide\n0.0.0.0 chosen.example\n"), refused);
    EXPECT_EQ(Exchange(std::string(1000, 'h')), refused);
    EXPECT_EQ(Slurp(m_hosts), mine);

    const HANDLE silent = ::CreateFileW(kHostsPipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(silent, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Exchange("status\n"), "shown unchanged\n");
    EXPECT_EQ(Exchange("hide\n"), "hidden changed\n");
    const std::string hidden = mine + "# Begin Vantrel\r\n" + m_shipped + "\r\n# End Vantrel";
    EXPECT_EQ(Slurp(m_hosts), hidden);
    // The silent one gets no answer, only the end of the connection.
    char byte = 0;
    DWORD got = 0;
    EXPECT_FALSE(::ReadFile(silent, &byte, 1, &got, nullptr));
    ::CloseHandle(silent);

    // The window's way, which checks that the pipe's server is the service.
    const HostsResult shown = AskHostsService(kServiceShow);
    EXPECT_TRUE(shown.Done() && shown.changed && !shown.hidden) << shown.sentence;
    EXPECT_EQ(Slurp(m_hosts), mine);

    // A refusal of the file as it is comes back with its sentence.
    const std::string damaged = mine + "# Begin Vantrel\r\n0.0.0.0 x.example\r\n";
    Spit(m_hosts, damaged);
    const HostsResult refusal = AskHostsService(kServiceShow);
    EXPECT_EQ(refusal.outcome, HostsOutcome::Damaged);
    EXPECT_EQ(refusal.sentence, kDamagedBlockText);
    EXPECT_EQ(Slurp(m_hosts), damaged);
    Spit(m_hosts, mine);

    StopService();
    const HostsResult stopped = AskHostsService(kServiceHide);
    EXPECT_EQ(stopped.outcome, HostsOutcome::NoService);
    EXPECT_EQ(stopped.sentence, kServiceMissingText);
    EXPECT_EQ(Slurp(m_hosts), mine);

    // A program that holds the pipe's name first: the service does not run beside it, so the
    // window finds no service rather than that program.
    const HANDLE squatter =
        ::CreateNamedPipeW(kHostsPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                           PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    EXPECT_NE(RunChild(Quoted(File("vantrel-service.exe")) + " -install").exitCode, 0u);
    EXPECT_EQ(HostsServiceProcessId(), 0u);
    EXPECT_EQ(AskHostsService(kServiceHide).outcome, HostsOutcome::NoService);
    EXPECT_EQ(Slurp(m_hosts), mine);
    ::CloseHandle(squatter);
    ASSERT_EQ(Uninstall("/S"), 0u);
    EXPECT_FALSE(ServiceRegistered());
}

}  // namespace
