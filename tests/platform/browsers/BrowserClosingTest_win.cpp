// Browser windows on Windows, recognised by the program behind them and, failing that, by the
// title: programs built as firefox.exe and chrome.exe, another program's window titled like
// Firefox's, and an unrelated window. Yes ends exactly the browsers; one that stays is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "platform/browsers/BrowserOffer_win.h"
#include "platform/browsers/BrowserProcesses.h"
#include "support/WinTestSupport.h"

namespace {

struct Program {
    PROCESS_INFORMATION process{};
    std::wstring title;
};

class BrowserClosing : public ::testing::Test {
protected:
    void TearDown() override {
        for (Program& program : m_programs) {
            if (::WaitForSingleObject(program.process.hProcess, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(program.process.hProcess, 1);
                // Gone with its windows before the next test looks at the desktop.
                ::WaitForSingleObject(program.process.hProcess, 10000);
            }
            ::CloseHandle(program.process.hProcess);
            ::CloseHandle(program.process.hThread);
        }
    }

    // Starts the test window under an image name and waits until its (first) window is there;
    // `more` holds further arguments (another window's title, "--stay").
    const Program& Start(const std::string& image, const std::string& title,
                         const std::string& more = "") {
        const std::string line =
            Quoted(ProgramDir() + "\\" + image) + " " + Quoted(title) + " " + more;
        m_programs.push_back({StartChild(line), Utf8ToWide(title)});
        for (int i = 0; i < 500 && ::FindWindowW(L"VantrelTestWindow",
                                                 m_programs.back().title.c_str()) == nullptr;
             ++i)
            ::Sleep(20);
        EXPECT_NE(::FindWindowW(L"VantrelTestWindow", m_programs.back().title.c_str()), nullptr)
            << image;
        return m_programs.back();
    }

    static bool Ended(const Program& program) {
        return ::WaitForSingleObject(program.process.hProcess, 0) == WAIT_OBJECT_0;
    }

    std::deque<Program> m_programs;  // a deque: Start hands out references
};

std::vector<int> PidsOf(const std::vector<BrowserWindow>& windows) {
    std::vector<int> pids;
    for (const BrowserWindow& window : windows) pids.push_back(window.pid.value_or(-1));
    std::sort(pids.begin(), pids.end());
    return pids;
}

TEST_F(BrowserClosing, YesEndsExactlyTheBrowserWindowsAndLeavesTheRest) {
    int asked = 0;
    const auto answer = [&asked](bool yes) {
        return [&asked, yes](HWND, const std::string&) {
            ++asked;
            return yes;
        };
    };
    Start("browser_test_window.exe", "Shopping list");
    // No browser window: nothing is asked.
    EXPECT_TRUE(OfferToCloseBrowserWindows(nullptr, {}, answer(true)).found.empty());
    EXPECT_EQ(asked, 0);

    const Program& firefox = Start("firefox.exe", "Start page");
    const Program& chrome = Start("chrome.exe", "New Tab");
    const Program& titled = Start("browser_test_window.exe", "Notes - Mozilla Firefox");
    const Program& unrelated = m_programs.front();
    std::vector<int> browserPids = {static_cast<int>(firefox.process.dwProcessId),
                                    static_cast<int>(chrome.process.dwProcessId),
                                    static_cast<int>(titled.process.dwProcessId)};
    std::sort(browserPids.begin(), browserPids.end());
    EXPECT_EQ(PidsOf(FindBrowserWindows()), browserPids);
    // As processes, only the programs that are browsers.
    std::vector<std::pair<Browser, int>> processes;
    for (const BrowserProcess& process : FindBrowserProcesses())
        processes.emplace_back(process.browser, process.pid);
    std::sort(processes.begin(), processes.end());
    EXPECT_EQ(processes, (std::vector<std::pair<Browser, int>>{
                             {Browser::Firefox, static_cast<int>(firefox.process.dwProcessId)},
                             {Browser::Chrome, static_cast<int>(chrome.process.dwProcessId)}}));

    // No: nothing is closed, and every browser is to be restarted.
    BrowserOfferOutcome outcome = OfferToCloseBrowserWindows(nullptr, {}, answer(false));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(outcome.found, (std::vector<Browser>{Browser::Firefox, Browser::Chrome}));
    EXPECT_FALSE(outcome.closeAccepted);
    EXPECT_EQ(outcome.mustRestart.size(), 3u);
    ::Sleep(200);
    for (const Program& program : m_programs) EXPECT_FALSE(Ended(program));

    // Yes: the three end within the wait, told to the caller; the other program stays.
    std::vector<std::string> told;
    std::string question;
    outcome = OfferToCloseBrowserWindows(
        nullptr, [&told](const std::string& text) { told.push_back(text); },
        [&question](HWND, const std::string& text) {
            question = text;
            return true;
        });
    EXPECT_EQ(
        question,
        "Vantrel needs to close Mozilla Firefox and Google Chrome for changes to take effect. "
        "Would you like to close the windows now?");
    EXPECT_TRUE(outcome.closeAccepted);
    EXPECT_TRUE(outcome.mustRestart.empty());
    EXPECT_EQ(told, (std::vector<std::string>{
                        "Waiting for Mozilla Firefox and Google Chrome to close...", ""}));
    EXPECT_TRUE(Ended(firefox));
    EXPECT_TRUE(Ended(chrome));
    // A window found by its title is awaited as a window: its program ends soon after.
    EXPECT_EQ(::FindWindowW(L"VantrelTestWindow", L"Notes - Mozilla Firefox"), nullptr);
    EXPECT_EQ(::WaitForSingleObject(titled.process.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(Ended(unrelated));
    EXPECT_NE(::FindWindowW(L"VantrelTestWindow", L"Shopping list"), nullptr);
}

TEST_F(BrowserClosing, ABrowserThatStaysIsNamedAfterTheWait) {
    const Program& stubborn = Start("firefox.exe", "Unsaved form", "--stay");
    const Program& chrome = Start("chrome.exe", "New Tab");
    // Another program with a window titled like Firefox's: that window closes, the program
    // goes on with its other window, and nothing is left to restart for it.
    const Program& editor =
        Start("browser_test_window.exe", "firefox.txt - Mozilla Firefox", "\"Editor\"");
    // The wait keeps dispatching this thread's messages (a dialog stays painted): a timer ticks.
    static int s_ticks = 0;
    const UINT_PTR timer =
        ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) { ++s_ticks; });
    const std::vector<RunningBrowser> left = CloseBrowsersAndWait(FindBrowserWindows(), 4000);
    ::KillTimer(nullptr, timer);
    EXPECT_GE(s_ticks, 10);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].browser, Browser::Firefox);
    EXPECT_EQ(left[0].pid, static_cast<int>(stubborn.process.dwProcessId));
    EXPECT_TRUE(Ended(chrome));
    EXPECT_FALSE(Ended(editor));
    EXPECT_EQ(::FindWindowW(L"VantrelTestWindow", L"firefox.txt - Mozilla Firefox"), nullptr);
}

}  // namespace
