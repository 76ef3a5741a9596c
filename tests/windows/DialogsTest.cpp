// The Windows dialogs driven through their messages: the main window's drawing and toggle, the
// splash, the ways out, and the settings save and a refusal. (The About box: e2e_windows.sh.)
#include <gtest/gtest.h>

#include "platform/prefs/CRegistryStore.h"
#include "platform/system/Elevation_win.h"
#include "support/WinDialogDriver.h"
#include "support/WinTestSupport.h"
#include "windows/app/CSettingsDlg.h"
#include "windows/app/CSplashDlg.h"
#include "windows/app/CVantrelDlg.h"
#include "windows/controls/MessageBox.h"
#include "windows/resource.h"

namespace {

const std::string kHostsBefore = "127.0.0.1 localhost\r\n::1 localhost\r\n";

class Dialogs : public HostsDirTest {
protected:
    void SetUp() override {
        HostsDirTest::SetUp();
        SetHosts(kHostsBefore);
        SetSettings(
            "0.0.0.0 pagead2.googlesyndication.com\r\n:: pagead2.googlesyndication.com\r\n");
        m_oldHook = SetMessageHook([this](const MessageRequest& request) {
            m_messages.push_back(request.caption + L": " + request.text);
            return IDOK;
        });
        // Each administrator's step is counted; "-settings" shows the dialog in this process,
        // as the elevated copy of the program would.
        SetElevationHookForTests([this](const std::wstring& arguments) -> std::optional<DWORD> {
            m_elevations.push_back(arguments);
            if (arguments != L"-settings") return std::nullopt;
            CSettingsDlg dlg;
            return dlg.DoModal(nullptr) == IDOK ? 0 : 1;
        });
    }
    void TearDown() override {
        SetElevationHookForTests({});
        SetMessageHook(m_oldHook);
        // The hyphen marks the address as not set: the next user of the prefix starts afresh.
        CRegistryStore().WriteValue("Vantrel", "m_IPAddress", "-", HKEY_CURRENT_USER);
        HostsDirTest::TearDown();
    }

    MessageHook m_oldHook;
    std::vector<std::wstring> m_messages;
    std::vector<std::wstring> m_elevations;
};

// The model's state as the dialog draws it.
void ExpectAdsHidden(HWND dlg, bool hidden) {
    EXPECT_EQ(ItemText(dlg, IDC_STATUS_LABEL),
              hidden ? L"Google Adsense advertisements are hidden on this PC."
                     : L"Google Adsense advertisements are not hidden on this PC.");
    EXPECT_EQ(ItemText(dlg, IDC_HINT), hidden ? L"To restore ads, click the Show Adsense button."
                                              : L"To hide ads, click the Hide Adsense button.");
    EXPECT_EQ(ItemText(dlg, IDOK), hidden ? L"Show Adsense" : L"Hide Adsense");
    const HICON icon = static_cast<HICON>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(hidden ? IDI_ADS_HIDDEN : IDI_ADS_SHOWN),
        IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    EXPECT_EQ(::SendDlgItemMessageW(dlg, IDC_STATUS_ICON, STM_GETICON, 0, 0),
              reinterpret_cast<LRESULT>(icon));
}

TEST_F(Dialogs, DrawsTheStateAndTheToggleAndEnterPressIt) {
    CVantrelDlg dlg;
    dlg.SetShowSplash(false);
    ASSERT_TRUE(dlg.Create(nullptr));
    const HWND hwnd = dlg.GetSafeHwnd();
    ExpectAdsHidden(hwnd, false);
    EXPECT_EQ(ItemText(hwnd, IDC_UPGRADE), L"Upgrade");
    // The buttons draw themselves.
    EXPECT_EQ(::GetWindowLongPtrW(::GetDlgItem(hwnd, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);

    Click(hwnd, IDOK);
    EXPECT_NE(Hosts().find("\r\n# Begin Vantrel\r\n0.0.0.0 pagead2"), std::string::npos);
    ExpectAdsHidden(hwnd, true);

    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // Enter
    EXPECT_EQ(Hosts(), kHostsBefore);
    ExpectAdsHidden(hwnd, false);
    EXPECT_TRUE(m_messages.empty());
    // A press asks for no administrator.
    EXPECT_TRUE(m_elevations.empty());
}

TEST_F(Dialogs, TheSplashOpensOverTheDialogAndGoesAtAClick) {
    CVantrelDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    // The splash opens once the dialog shows: a message the dialog posted to itself. (That a key
    // dismisses it without pressing the toggle beneath is e2e_windows.sh's.)
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    ASSERT_NE(dlg.Splash(), nullptr);
    EXPECT_TRUE(dlg.Splash()->IsShown());
    EXPECT_EQ(::GetWindow(dlg.Splash()->GetSafeHwnd(), GW_OWNER), dlg.GetSafeHwnd());
    ::SendMessageW(dlg.Splash()->GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_FALSE(dlg.Splash()->IsShown());
}

TEST_F(Dialogs, ExitEscapeAndTheCloseBoxEndTheMainDialog) {
    for (const auto& end : std::vector<std::function<void(HWND)>>{
             [](HWND dlg) { Click(dlg, IDCANCEL); },
             [](HWND dlg) {
                 // Escape, through the dialog's own keyboard handling.
                 ::PostMessageW(::GetDlgItem(dlg, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
             },
             [](HWND dlg) { ::PostMessageW(dlg, WM_CLOSE, 0, 0); }}) {
        CVantrelDlg dlg;
        dlg.SetShowSplash(false);
        DialogDriver driver;
        driver.When(L"Vantrel", end);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_TRUE(driver.Done());
    }
    EXPECT_EQ(Hosts(), kHostsBefore);
}

TEST_F(Dialogs, SettingsSaveTheListAndTheAddressAndRefuseBadInput) {
    CRegistryStore().WriteValue("Vantrel", "m_IPAddress", "-", HKEY_CURRENT_USER);
    const std::string settingsPath = m_dir + "\\vantrel_settings.txt";
    const std::string before = Slurp(settingsPath);
    CVantrelDlg main;
    main.SetShowSplash(false);
    ASSERT_TRUE(main.Create(nullptr));

    DialogDriver driver;
    driver.When(L"Vantrel Settings", [&](HWND box) {
        // The file's domains, each once, and the default address.
        EXPECT_EQ(ItemText(box, IDC_DOMAINS), L"pagead2.googlesyndication.com\r\n");
        EXPECT_EQ(ItemText(box, IDC_IP_ADDRESS), L"0.0.0.0");

        // The refusals' rules and texts are the core's (tests/core/SettingsListTest.cpp).
        ::SetDlgItemTextW(box, IDC_IP_ADDRESS, L"127.0.0.1");
        ::SetDlgItemTextW(box, IDC_DOMAINS, L"a.example\r\n\r\nnot a domain\r\nbad/one\r\n");
        Click(box, IDOK);
        EXPECT_EQ(Slurp(settingsPath), before);

        ::SetDlgItemTextW(box, IDC_DOMAINS, L"  ads.example.  \r\n\r\nb.example\r\n");
        Click(box, IDOK);
    });
    Click(main.GetSafeHwnd(), IDC_SETTINGS);
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find(L"Vantrel: Line 3, \"not a domain\""), std::wstring::npos)
        << m_messages[0];
    EXPECT_EQ(
        Slurp(settingsPath),
        "127.0.0.1 ads.example\r\n::1 ads.example\r\n127.0.0.1 b.example\r\n::1 b.example\r\n");
    EXPECT_EQ(CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Software"),
              "127.0.0.1");
    // The hosts file is not touched by saving.
    EXPECT_EQ(Hosts(), kHostsBefore);

    // Cancel after editing changes nothing.
    driver.When(L"Vantrel Settings", [&](HWND box) {
        EXPECT_EQ(ItemText(box, IDC_IP_ADDRESS), L"127.0.0.1");
        ::SetDlgItemTextW(box, IDC_DOMAINS, L"other.example");
        ::SetDlgItemTextW(box, IDC_IP_ADDRESS, L"0.0.0.0");
        Click(box, IDCANCEL);
    });
    Click(main.GetSafeHwnd(), IDC_SETTINGS);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(
        Slurp(settingsPath),
        "127.0.0.1 ads.example\r\n::1 ads.example\r\n127.0.0.1 b.example\r\n::1 b.example\r\n");
    EXPECT_EQ(CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Software"),
              "127.0.0.1");
    // Each opening was one administrator's step.
    EXPECT_EQ(m_elevations, std::vector<std::wstring>(2, L"-settings"));
}

}  // namespace
