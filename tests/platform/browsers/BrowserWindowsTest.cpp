// Browser windows under a private Xvfb, bare and under openbox: the question comes only while a
// browser window is open, and Yes closes every one of them for real. (Without a display nothing
// is asked: MainDialogTest presses the toggle with none.)
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/browsers/BrowserNames.h"
#include "linux/browsers/BrowserOffer.h"
#include "linux/controls/MessageBox.h"
#include "platform/browsers/BrowserWindows.h"

namespace {

// Only failures ever wait this long.
constexpr int kPatienceMs = 10000;

bool WaitUntil(const std::function<bool()>& condition, int ms = kPatienceMs) {
    return QTest::qWaitFor(condition, ms);
}

// A child process whose standard output is read by line; ended when it goes.
struct CChild : QProcess {
    CChild(const std::string& program, const std::vector<std::string>& args) {
        QStringList list;
        for (const std::string& arg : args) list << QString::fromStdString(arg);
        setStandardInputFile(QProcess::nullDevice());
        setStandardErrorFile(QProcess::nullDevice());
        start(QString::fromStdString(program), list);
    }
    ~CChild() override { Stop(); }
    // The next line of output; nothing at the end of the output or after kPatienceMs.
    std::optional<std::string> ReadLine() {
        while (!canReadLine()) {
            if (!waitForReadyRead(kPatienceMs)) return std::nullopt;
        }
        return readLine().trimmed().toStdString();
    }
    // Whether the process ended by itself within kPatienceMs.
    bool Exited() { return state() == NotRunning || waitForFinished(kPatienceMs); }
    void Stop() {
        if (state() == NotRunning) return;
        terminate();
        if (!waitForFinished(kPatienceMs)) kill();
        waitForFinished();
    }
};

// The test's own view of the display, to check what the code under test did.
class CXView {
public:
    explicit CXView(const std::string& display)
        : m_pConnection(xcb_connect(display.c_str(), nullptr)),
          m_root(xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root) {}
    ~CXView() { xcb_disconnect(m_pConnection); }
    CXView(const CXView&) = delete;
    CXView& operator=(const CXView&) = delete;

    bool Ok() const { return !xcb_connection_has_error(m_pConnection); }

    xcb_atom_t Atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            m_pConnection,
            xcb_intern_atom(m_pConnection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }

    std::vector<std::uint32_t> Windows(xcb_window_t window, const char* property) {
        auto* reply = xcb_get_property_reply(
            m_pConnection,
            xcb_get_property(m_pConnection, 0, window, Atom(property), XCB_ATOM_WINDOW, 0, 4096),
            nullptr);
        std::vector<std::uint32_t> items;
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            items.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return items;
    }

    bool Managed(xcb_window_t window) {
        const auto clients = Windows(m_root, "_NET_CLIENT_LIST");
        return std::find(clients.begin(), clients.end(), window) != clients.end();
    }

    // Whether a window manager runs and takes in a window of our own at once.
    bool WindowManagerReady() {
        const auto check = Windows(m_root, "_NET_SUPPORTING_WM_CHECK");
        if (check.empty() || Windows(check[0], "_NET_SUPPORTING_WM_CHECK") != check) return false;
        const xcb_window_t probe = xcb_generate_id(m_pConnection);
        xcb_create_window(m_pConnection, XCB_COPY_FROM_PARENT, probe, m_root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(m_pConnection, probe);
        xcb_flush(m_pConnection);
        const bool managed = WaitUntil([&] { return Managed(probe); }, 500);
        xcb_destroy_window(m_pConnection, probe);
        xcb_flush(m_pConnection);
        return managed;
    }

    bool Exists(xcb_window_t window) {
        auto* reply = xcb_get_window_attributes_reply(
            m_pConnection, xcb_get_window_attributes(m_pConnection, window), nullptr);
        std::free(reply);
        return reply != nullptr;
    }

    // Sets a window list on the root, or deletes the property for an empty one.
    void SetWindows(const char* property, const std::vector<std::uint32_t>& windows) {
        if (windows.empty()) {
            xcb_delete_property(m_pConnection, m_root, Atom(property));
        } else {
            xcb_change_property(m_pConnection, XCB_PROP_MODE_REPLACE, m_root, Atom(property),
                                XCB_ATOM_WINDOW, 32, static_cast<std::uint32_t>(windows.size()),
                                windows.data());
        }
        xcb_flush(m_pConnection);
    }

    // Sent after the code under test is done: arrives after anything it sent to the window.
    void Ping(xcb_window_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = Atom("VANTREL_TEST_PING");
        xcb_send_event(m_pConnection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(m_pConnection);
    }

private:
    xcb_connection_t* m_pConnection = nullptr;
    xcb_window_t m_root = XCB_NONE;
};

struct CTestWindow {
    std::unique_ptr<CChild> process;
    xcb_window_t id = XCB_NONE;
};

struct NoWindowManager {
    static constexpr bool kWithWm = false;
};
struct WithOpenbox {
    static constexpr bool kWithWm = true;
};

template <typename Setting>
class BrowserWindowsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        if (xvfb.isEmpty() || (Setting::kWithWm && openbox.isEmpty())) {
            s_strSkip = "Xvfb or openbox is not installed";
            return;
        }
        s_pXvfb = std::make_unique<CChild>(
            xvfb.toStdString(),
            std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp", "-noreset"});
        const std::optional<std::string> number = s_pXvfb->ReadLine();
        if (!number || number->empty()) {
            s_strSkip = "Xvfb did not start";
            return;
        }
        s_strDisplay = ":" + *number;
        setenv("DISPLAY", s_strDisplay.c_str(), 1);
        if (Setting::kWithWm) {
            s_pWm = std::make_unique<CChild>(openbox.toStdString(),
                                             std::vector<std::string>{"--sm-disable"});
            // The check window shows up before openbox handles map requests: wait until it
            // really takes in a window.
            CXView view(s_strDisplay);
            if (!WaitUntil([&] { return view.WindowManagerReady(); })) {
                s_strSkip = "openbox did not take the display";
            }
        }
    }

    static void TearDownTestSuite() {
        s_pWm.reset();
        s_pXvfb.reset();
    }

    void SetUp() override {
        if (!s_strSkip.empty()) GTEST_SKIP() << s_strSkip;
        m_pView = std::make_unique<CXView>(s_strDisplay);
        ASSERT_TRUE(m_pView->Ok());
        m_oldHook = SetMessageHook([this](const MessageRequest& request) {
            m_requests.push_back(request);
            return m_answer;
        });
    }

    void TearDown() override {
        if (!m_pView) return;
        SetMessageHook(m_oldHook);
        // Leave a clean display for the next test.
        for (CTestWindow& window : m_windows) window.process->Stop();
        for (CTestWindow& window : m_windows) {
            WaitUntil([&] { return !m_pView->Exists(window.id); });
        }
    }

    CTestWindow& Open(const std::string& title, std::vector<std::string> options = {},
                      const std::string& program = VANTREL_TEST_WINDOW) {
        options.insert(options.begin(), title);
        CTestWindow window{std::make_unique<CChild>(program, options)};
        const auto ready = window.process->ReadLine();
        EXPECT_TRUE(ready && ready->starts_with("ready ")) << title;
        if (ready && ready->starts_with("ready ")) window.id = std::stoul(ready->substr(6));
        if (Setting::kWithWm) {
            EXPECT_TRUE(WaitUntil([&] { return m_pView->Managed(window.id); })) << title;
        }
        m_windows.push_back(std::move(window));
        return m_windows.back();
    }

    void ExpectLeftAlone(CTestWindow& window) {
        m_pView->Ping(window.id);
        EXPECT_EQ(window.process->ReadLine(), "ping") << window.id;
        EXPECT_TRUE(m_pView->Exists(window.id));
    }

    void ExpectClosedByItself(CTestWindow& window) {
        EXPECT_EQ(window.process->ReadLine(), "delete") << window.id;
        EXPECT_TRUE(window.process->Exited());
        EXPECT_TRUE(WaitUntil([&] { return !m_pView->Exists(window.id); }));
    }

    static inline std::unique_ptr<CChild> s_pXvfb;
    static inline std::unique_ptr<CChild> s_pWm;
    static inline std::string s_strDisplay;
    static inline std::string s_strSkip;

    std::unique_ptr<CXView> m_pView;
    std::deque<CTestWindow> m_windows;  // references stay valid as windows are added
    std::vector<MessageRequest> m_requests;
    QMessageBox::StandardButton m_answer = QMessageBox::Yes;
    MessageHook m_oldHook;
};

using Settings = ::testing::Types<NoWindowManager, WithOpenbox>;
struct SettingName {
    template <typename Setting>
    static std::string GetName(int) {
        return Setting::kWithWm ? "Openbox" : "NoWindowManager";
    }
};
TYPED_TEST_SUITE(BrowserWindowsTest, Settings, SettingName);

// Cases that need a display without a window manager.
using BrowserWindowsBareTest = BrowserWindowsTest<NoWindowManager>;

// Nothing is asked while no browser window is open (the titles in another letter case are
// somebody else's windows); then No leaves every window alone, and Yes closes every browser
// window, its title read from either property, and nothing else.
TYPED_TEST(BrowserWindowsTest, OnlyBrowserWindowsAreOfferedAndYesClosesThemAll) {
    CTestWindow& terminal = this->Open("Terminal");
    CTestWindow& lowerCase = this->Open("internet explorer tips - Text Editor");
    this->Open("mozilla firefox - Start");
    this->Open("Welcome - INTERNET EXPLORER", {"--wm-name-only"});
    EXPECT_FALSE(FindBrowserWindow());
    EXPECT_FALSE(g_bBrowserFound);
    OfferToCloseBrowserWindows(nullptr);
    EXPECT_TRUE(this->m_requests.empty());

    CTestWindow& explorer1 = this->Open("Start - Internet Explorer", {"--wm-name-only"});
    CTestWindow& explorer2 = this->Open("News - Internet Explorer");
    CTestWindow& firefox = this->Open("Über uns – Mozilla Firefox", {"--net-name-only"});
    CTestWindow& editor = this->Open("Mozilla Firefox notes.txt - Text Editor");

    this->m_answer = QMessageBox::No;
    OfferToCloseBrowserWindows(nullptr);
    EXPECT_EQ(this->m_requests.size(), 1u);
    for (CTestWindow& window : this->m_windows) this->ExpectLeftAlone(window);

    QWidget owner;
    this->m_answer = QMessageBox::Yes;
    OfferToCloseBrowserWindows(&owner);
    ASSERT_EQ(this->m_requests.size(), 2u);
    const MessageRequest& asked = this->m_requests.back();
    EXPECT_EQ(asked.owner, &owner);
    // The wording is the core's (tests/core/ProtectionTest.cpp).
    EXPECT_EQ(asked.text.toStdString(), CloseQuestionText({Browser::Firefox}));
    EXPECT_EQ(asked.caption, QStringLiteral("Vantrel"));
    EXPECT_EQ(asked.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(asked.icon, QMessageBox::Question);
    for (CTestWindow* window : {&explorer1, &explorer2, &firefox, &editor}) {
        this->ExpectClosedByItself(*window);
    }
    this->ExpectLeftAlone(terminal);
    this->ExpectLeftAlone(lowerCase);
    EXPECT_FALSE(FindBrowserWindow());
}

TYPED_TEST(BrowserWindowsTest, WindowWithoutDeleteProtocolIsClosedOnlyByTheWindowManager) {
    CTestWindow& firefox = this->Open("Old - Mozilla Firefox", {"--no-delete"});

    OfferToCloseBrowserWindows(nullptr);

    EXPECT_EQ(this->m_requests.size(), 1u);
    if (TypeParam::kWithWm) {
        // openbox closes it as its title bar's close button would.
        EXPECT_EQ(firefox.process->ReadLine(), std::nullopt);
        EXPECT_TRUE(WaitUntil([&] { return !this->m_pView->Exists(firefox.id); }));
    } else {
        // Nobody can close it politely, and it is never killed.
        this->ExpectLeftAlone(firefox);
        EXPECT_TRUE(CloseBrowserWindows().empty());
    }
}

TEST_F(BrowserWindowsBareTest, ClientInsideAFrameIsFoundWithoutClientList) {
    CTestWindow& explorer = Open("Start - Internet Explorer", {"--framed"});

    OfferToCloseBrowserWindows(nullptr);

    EXPECT_EQ(m_requests.size(), 1u);
    ExpectClosedByItself(explorer);
}

TEST_F(BrowserWindowsBareTest, ClientListLeftByADeadWindowManagerIsIgnored) {
    CTestWindow& terminal = Open("Terminal");
    Open("Start - Internet Explorer");
    // What a window manager that died leaves on the root: a check window that is not one.
    m_pView->SetWindows("_NET_SUPPORTING_WM_CHECK", {terminal.id});
    m_pView->SetWindows("_NET_CLIENT_LIST", {terminal.id});

    const bool found = FindBrowserWindow();
    m_pView->SetWindows("_NET_SUPPORTING_WM_CHECK", {});
    m_pView->SetWindows("_NET_CLIENT_LIST", {});
    EXPECT_TRUE(found);
}

// The test window under a browser's program name, in a folder of its own: a window that says
// nothing but its process id is known by the program that process runs.
std::string ProgramNamed(const QTemporaryDir& dir, const std::string& name) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::filesystem::copy_file(VANTREL_TEST_WINDOW, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

TYPED_TEST(BrowserWindowsTest, BrowsersAreKnownByTheirProgramAndNamedInTheQuestion) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CTestWindow& chromium = this->Open("New Tab - Chromium", {"--class", "chromium,Chromium"});
    CTestWindow& firefox = this->Open("Start", {"--class", "Navigator,firefox-esr"});
    CTestWindow& brave = this->Open("Start", {"--pid"}, ProgramNamed(dir, "brave"));
    CTestWindow& terminal = this->Open("Terminal", {"--class", "xterm,XTerm", "--pid"});
    CTestWindow& editor = this->Open("chromium.txt - Editor", {"--class", "gedit,Gedit"});

    const BrowserOfferOutcome outcome = OfferToCloseBrowserWindows(nullptr);

    ASSERT_EQ(this->m_requests.size(), 1u);
    EXPECT_EQ(this->m_requests[0].text.toStdString(),
              CloseQuestionText({Browser::Firefox, Browser::Chromium, Browser::Brave}));
    for (CTestWindow* window : {&chromium, &firefox, &brave}) this->ExpectClosedByItself(*window);
    this->ExpectLeftAlone(terminal);
    this->ExpectLeftAlone(editor);
    EXPECT_TRUE(outcome.closeAccepted);
    // Each one's process ended within the wait: nothing is left to restart.
    EXPECT_TRUE(outcome.mustRestart.empty());
}

TEST_F(BrowserWindowsBareTest, BrowserThatOutlivesItsWindowsIsNamed) {
    // Background mode: the windows go, the process stays.
    CTestWindow& chromium =
        Open("New Tab - Chromium", {"--class", "chromium,Chromium", "--pid", "--linger"});

    const BrowserOfferOutcome outcome = OfferToCloseBrowserWindows(nullptr);

    EXPECT_EQ(chromium.process->ReadLine(), "delete");
    ASSERT_EQ(outcome.mustRestart.size(), 1u);
    EXPECT_EQ(outcome.mustRestart[0].browser, Browser::Chromium);
    EXPECT_TRUE(outcome.mustRestart[0].pid.has_value());
}

}  // namespace
