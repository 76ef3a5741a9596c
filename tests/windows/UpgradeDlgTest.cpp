// The upgrade dialog driven through its messages against the pages of https_test.sh's server:
// the setup's checks, the run of the old uninstaller and the new setup, and a real installation
// that upgrades itself.
#include <shlobj.h>

#include <filesystem>
#include <optional>

#include "platform/hosts/HostsFileIO.h"
#include "platform/prefs/CRegistryStore.h"
#include "platform/system/ProcessTree_win.h"
#include "support/WinDialogDriver.h"
#include "windows/TestServers.h"
#include "windows/controls/MessageBox.h"
#include "windows/resource.h"
#include "windows/upgrade/CUpgradeDlg.h"

namespace {

class UpgradeDlg : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        m_https = EnvironmentUtf8(L"VANTREL_HTTPS_DIR");
        if (m_https.empty()) GTEST_SKIP() << "run by https_test.sh";
        m_base = EnvironmentUtf8(L"VANTREL_HTTPS_URL");
        m_key = P256PointFromHex(Slurp(m_https + "\\maker.point"));
        ASSERT_TRUE(m_key);
        // An installation folder with a blank in its name, as "Program Files".
        m_work = m_dir + "\\Vantrel folder";
        ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(m_work).c_str(), nullptr));
        ::SetCurrentDirectoryW(Utf8ToWide(m_work).c_str());
        m_oldHook = SetMessageHook([this](const MessageRequest& request) {
            m_messages.push_back(WideToUtf8(request.caption + L": " + request.text));
            return (request.flags & MB_YESNO) ? IDYES : IDOK;
        });
    }
    void TearDown() override {
        if (!m_https.empty()) SetMessageHook(m_oldHook);
        ::SetCurrentDirectoryW(Utf8ToWide(m_dir).c_str());
        std::error_code error;
        for (const std::string& folder : {m_work, m_dir + "\\elsewhere"})
            std::filesystem::remove_all(Utf8ToWide(folder), error);
        HostsDirTest::TearDown();
    }

    // Opens the dialog on `page`, presses OK and closes it; the messages it showed.
    std::vector<std::string> Check(const std::string& page) {
        m_messages.clear();
        CUpgradeDlg dlg;
        dlg.SetUpgradeInfo("Vantrel", 1.0f, m_base + "/" + page);
        dlg.SetProgramFolder(Utf8ToWide(m_work));
        dlg.SetUpgradeKey(m_key);
        dlg.SetProcessEnd([this](int code) { m_endCode = code; });
        DialogDriver driver;
        driver.When(L"Check for Upgrade", [](HWND box) {
            Click(box, IDOK);
            if (::IsWindow(box)) Click(box, IDCANCEL);
        });
        dlg.DoModal(nullptr);
        EXPECT_TRUE(driver.Done());
        return m_messages;
    }

    std::string m_https;
    std::string m_work;
    std::string m_base;
    std::optional<P256PublicPoint> m_key;
    MessageHook m_oldHook;
    std::vector<std::string> m_messages;
    std::optional<int> m_endCode;
};

// The upgrade's download folders left in %SystemRoot%\Temp.
std::vector<std::string> UpgradeFoldersLeft() {
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return Matching(WideToUtf8(std::wstring(windows, length)) + "\\Temp\\Vantrel-upgrade-*");
}

const char kOffer[] =
    "A new upgrade is available.: A new upgrade of Vantrel is available for download.\n\n"
    "Description:\n\nFaster.\n\n\nWould you like to download the upgrade now?";

// The Windows part of the flow (its decisions are UpgradeFlowTest's): the setup's signature and
// version resource checked with the system's own functions, then the program folder's
// uninstaller and the setup, held open against any change from its check until it has run.
TEST_F(UpgradeDlg, OnlyTheMakersSetupRunsAfterTheOldUninstaller) {
    TestHttps https(m_https);
    ASSERT_TRUE(https.Trusted());
    ASSERT_TRUE(
        ::CopyFileW(Utf8ToWide(ProgramDir() + "\\fake_setup.exe").c_str(), L"unins000.exe", FALSE));
    // A setup of the same name in the program's folder is neither run nor taken for it.
    Spit("NewUpdate.exe", "left from before");
    for (const auto& [page, why] : std::vector<std::pair<std::string, std::string>>{
             {"stranger", "the downloaded file is not signed by the maker of Vantrel"},
             // Signed by the maker, but the 0.9 setup on a page that offers 2.0.
             {"downgrade",
              "the downloaded setup program is not the version that the upgrade "
              "page offered"}}) {
        const std::vector<std::string> said = Check(page);
        ASSERT_EQ(said.size(), 2u) << page;
        EXPECT_EQ(said[0], kOffer);
        EXPECT_EQ(said[1].find("Vantrel: The upgrade was not installed: " + why), 0u) << said[1];
        EXPECT_EQ(UpgradeFoldersLeft(), std::vector<std::string>()) << page;
        EXPECT_FALSE(m_endCode) << page;
    }
    EXPECT_FALSE(Exists("runs.txt"));

    EXPECT_EQ(Check("newer"), std::vector<std::string>{kOffer});
    EXPECT_EQ(m_endCode, 0);
    EXPECT_EQ(Slurp("runs.txt"), "unins000.exe /SILENT\nNewUpdate.exe (held)\n");
    EXPECT_EQ(Slurp("NewUpdate.exe"), "left from before");
    EXPECT_EQ(UpgradeFoldersLeft(), std::vector<std::string>());
}

// A click on a button of another process's dialog, without waiting for what it starts.
void PostClick(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

// The whole road with the real programs (the test build's vantrel_keyed, with the throwaway key
// and the local page): 1.0 installed, a block and the user's edits; Upgrade, OK, Yes in the
// installed program's windows: 1.1 installed, the user's list and address kept, exit 0; and the
// uninstaller then leaves nothing.
TEST_F(UpgradeDlg, TheInstalledProgramUpgradesItself) {
    const std::string keyedSetup = EnvironmentUtf8(L"VANTREL_KEYED_SETUP");
    if (keyedSetup.empty()) GTEST_SKIP() << "the page's port was taken";
    wchar_t programFiles[MAX_PATH];
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
    const std::string folder = WideToUtf8(programFiles) + "\\Vantrel";
    ASSERT_FALSE(Exists(folder));
    TestHttps https(m_https);
    ASSERT_TRUE(https.Trusted());

    const std::string hosts = DefaultHostsPath();
    const std::string savedHosts = Slurp(hosts);
    ASSERT_EQ(RunChild(Quoted(keyedSetup) + " /S").exitCode, 0u);
    const std::string shipped = Slurp(folder + "\\vantrel_settings.txt");
    const std::string mine = "127.0.0.1 localhost\r\n";
    Spit(hosts, mine);
    ASSERT_TRUE(AddBlockAt(hosts, {"0.0.0.0 pagead2.googlesyndication.com", ""}).Done());
    const std::string edited = shipped + "0.0.0.0 ads.example\r\n";
    Spit(folder + "\\vantrel_settings.txt", edited);
    const std::string savedAddress =
        CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Software");
    CRegistryStore().WriteValue("Vantrel", "m_IPAddress", "127.0.0.2", HKEY_CURRENT_USER);

    // Started from another folder holding an uninstaller (marking each run), a settings file and
    // a help file of its own: none of them is used.
    const std::string elsewhere = m_dir + "\\elsewhere";
    ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(elsewhere).c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(Utf8ToWide(ProgramDir() + "\\fake_setup.exe").c_str(),
                            Utf8ToWide(elsewhere + "\\unins000.exe").c_str(), FALSE));
    Spit(elsewhere + "\\vantrel_settings.txt", "0.0.0.0 planted.example\r\n");
    Spit(elsewhere + "\\help.txt", "planted\r\n");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION program{};
    std::wstring line = Utf8ToWide(Quoted(folder + "\\vantrel.exe"));
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 Utf8ToWide(elsewhere).c_str(), &startup, &program));
    const HWND main = AwaitWindow(L"Vantrel");
    ASSERT_NE(main, nullptr);
    ::WaitForInputIdle(program.hProcess, 10000);
    PostClick(main, IDC_UPGRADE);
    const HWND check = AwaitWindow(L"Check for Upgrade");
    ASSERT_NE(check, nullptr);
    PostClick(check, IDOK);
    const HWND offer = AwaitWindow(L"A new upgrade is available.");
    ASSERT_NE(offer, nullptr);
    PostClick(offer, IDYES);
    const HWND setup =
        AwaitWindow(L"Vantrel " VANTREL_NEXT_VERSION_W L" Setup: Installation Folder", 60);
    ASSERT_NE(setup, nullptr);
    ::SendMessageW(::GetDlgItem(setup, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(program.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(program.hProcess, &code);
    ::CloseHandle(program.hProcess);
    ::CloseHandle(program.hThread);
    EXPECT_EQ(code, 0u);

    EXPECT_EQ(Slurp(hosts), mine);
    EXPECT_FALSE(Exists(elsewhere + "\\runs.txt"));
    EXPECT_EQ(Slurp(elsewhere + "\\vantrel_settings.txt"), "0.0.0.0 planted.example\r\n");
    EXPECT_EQ(UpgradeFoldersLeft(), std::vector<std::string>());
    const std::optional<SetupVersion> version =
        ProductVersionOf(Utf8ToWide(folder + "\\vantrel.exe"));
    EXPECT_TRUE(version && version->major == 1 && version->minor == 1);
    EXPECT_FALSE(Exists(folder + "\\NewUpdate.exe"));
    EXPECT_EQ(Slurp(folder + "\\vantrel_settings.txt"), edited);
    EXPECT_EQ(CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Software"),
              "127.0.0.2");

    // With the shipped list back, the new uninstaller removes the block and the program (what
    // else it removes is InstallerTest's).
    Spit(folder + "\\vantrel_settings.txt", shipped);
    ASSERT_TRUE(AddBlockAt(hosts, {"0.0.0.0 pagead2.googlesyndication.com", ""}).Done());
    EXPECT_TRUE(
        RunProcessTree(Utf8ToWide(Quoted(folder + "\\unins000.exe") + " /SILENT"), L"").bStarted);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(Slurp(hosts), mine);
    Spit(hosts, savedHosts);
    if (savedAddress.empty()) {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Vantrel", L"m_IPAddress");
    } else {
        CRegistryStore().WriteValue("Vantrel", "m_IPAddress", savedAddress, HKEY_CURRENT_USER);
    }
}

}  // namespace
