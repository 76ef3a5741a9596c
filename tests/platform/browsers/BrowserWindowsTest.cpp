// Browser windows under a private Xvfb, without a window manager and under openbox: the question
// is asked only when a browser window is open, and Yes closes every one of them for real.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "linux/app/CVantrelDlg.h"
#include "linux/browsers/BrowserOffer.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "platform/browsers/BrowserWindows.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Only failures ever wait this long.
constexpr auto kPatience = 10s;

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// A child process; with `quiet` its output is dropped, otherwise its stdout is read by line.
class CChild {
public:
    CChild(const std::vector<std::string>& args, bool quiet, int passFd = -1) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        int out[2] = {-1, -1};
        if (quiet) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        } else if (pipe2(out, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        }
        if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (out[1] >= 0) close(out[1]);
        m_fdOut = out[0];
    }
    ~CChild() {
        Stop();
        if (m_fdOut >= 0) close(m_fdOut);
    }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    bool Started() const { return m_pid > 0; }

    // The next line of output; nothing at the end of the output or after kPatience.
    std::optional<std::string> ReadLine() {
        const auto deadline = Clock::now() + kPatience;
        for (;;) {
            if (const auto end = m_strBuffer.find('\n'); end != std::string::npos) {
                std::string line = m_strBuffer.substr(0, end);
                m_strBuffer.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd{m_fdOut, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return std::nullopt;
            }
            char chunk[256];
            const ssize_t got = read(m_fdOut, chunk, sizeof chunk);
            if (got <= 0) return std::nullopt;
            m_strBuffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // Whether the process ended by itself within kPatience.
    bool Exited() {
        const bool exited =
            WaitUntil([this] { return m_pid <= 0 || waitpid(m_pid, nullptr, WNOHANG) == m_pid; });
        if (exited) m_pid = -1;
        return exited;
    }

    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_fdOut = -1;
    std::string m_strBuffer;
};

// The test's own view of the display, to check what the code under test did.
class CXView {
public:
    explicit CXView(const std::string& display) {
        m_pConnection = xcb_connect(display.c_str(), nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root;
    }
    ~CXView() { xcb_disconnect(m_pConnection); }
    CXView(const CXView&) = delete;
    CXView& operator=(const CXView&) = delete;

    bool Ok() const { return !xcb_connection_has_error(m_pConnection); }
    xcb_window_t Root() const { return m_root; }

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
        xcb_generic_error_t* error = nullptr;
        auto* reply = xcb_get_property_reply(
            m_pConnection,
            xcb_get_property(m_pConnection, 0, window, Atom(property), XCB_ATOM_WINDOW, 0, 4096),
            &error);
        std::free(error);
        std::vector<std::uint32_t> items;
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            items.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return items;
    }

    bool WindowManagerRunning() {
        const auto check = Windows(m_root, "_NET_SUPPORTING_WM_CHECK");
        return !check.empty() && Windows(check[0], "_NET_SUPPORTING_WM_CHECK") == check;
    }

    bool Managed(xcb_window_t window) {
        const auto clients = Windows(m_root, "_NET_CLIENT_LIST");
        return std::find(clients.begin(), clients.end(), window) != clients.end();
    }

    // Maps a window of our own and tells whether the window manager took it in soon.
    bool ProbeManaged() {
        const xcb_window_t probe = xcb_generate_id(m_pConnection);
        xcb_create_window(m_pConnection, XCB_COPY_FROM_PARENT, probe, m_root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(m_pConnection, probe);
        xcb_flush(m_pConnection);
        bool managed = false;
        const auto deadline = Clock::now() + 500ms;
        while (!(managed = Managed(probe)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        xcb_destroy_window(m_pConnection, probe);
        xcb_flush(m_pConnection);
        return managed;
    }

    bool Exists(xcb_window_t window) {
        xcb_generic_error_t* error = nullptr;
        auto* reply = xcb_get_window_attributes_reply(
            m_pConnection, xcb_get_window_attributes(m_pConnection, window), &error);
        std::free(error);
        const bool exists = reply != nullptr;
        std::free(reply);
        return exists;
    }

    void SetWindows(const char* property, const std::vector<std::uint32_t>& windows) {
        xcb_change_property(m_pConnection, XCB_PROP_MODE_REPLACE, m_root, Atom(property),
                            XCB_ATOM_WINDOW, 32, static_cast<std::uint32_t>(windows.size()),
                            windows.data());
        xcb_flush(m_pConnection);
    }

    void DeleteProperty(const char* property) {
        xcb_delete_property(m_pConnection, m_root, Atom(property));
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

const QString kQuestion = QStringLiteral(
    "Vantrel needs to close Microsoft Internet Explorer and Mozilla Firefox for changes to take "
    "effect. Would you like to close the windows now?");

template <typename Setting>
class BrowserWindowsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string xvfb = FindProgram("Xvfb");
        if (xvfb.empty()) {
            s_strSkip = "Xvfb is not installed";
            return;
        }
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            s_strSkip = "no pipe for Xvfb";
            return;
        }
        s_pXvfb = std::make_unique<CChild>(
            std::vector<std::string>{xvfb, "-displayfd", "3", "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp", "-noreset"},
            true, fds[1]);
        close(fds[1]);
        std::string number;
        char c;
        pollfd fd{fds[0], POLLIN, 0};
        while (poll(&fd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) {
            s_strSkip = "Xvfb did not start";
            return;
        }
        s_strDisplay = ":" + number;
        setenv("DISPLAY", s_strDisplay.c_str(), 1);
        if (Setting::kWithWm) {
            const std::string openbox = FindProgram("openbox");
            if (openbox.empty()) {
                s_strSkip = "openbox is not installed";
                return;
            }
            s_pWm =
                std::make_unique<CChild>(std::vector<std::string>{openbox, "--sm-disable"}, true);
            // The check window shows up before openbox handles map requests: wait until it
            // really takes in a window.
            CXView view(s_strDisplay);
            if (!WaitUntil([&] { return view.WindowManagerRunning() && view.ProbeManaged(); })) {
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
        for (CTestWindow& window : m_windows) window.process.reset();
        for (CTestWindow& window : m_windows) {
            WaitUntil([&] { return !m_pView->Exists(window.id); });
        }
    }

    CTestWindow& Open(const std::string& title, std::vector<std::string> options = {},
                      const std::string& program = VANTREL_TEST_WINDOW) {
        options.insert(options.begin(), {program, title});
        CTestWindow window{std::make_unique<CChild>(options, false)};
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

TYPED_TEST(BrowserWindowsTest, WithoutBrowserWindowNothingIsAsked) {
    this->Open("Terminal");
    this->Open("notes.txt - Text Editor");
    // The texts in another letter case are somebody else's windows.
    this->Open("mozilla firefox - Start");
    this->Open("Welcome - INTERNET EXPLORER");
    this->Open("Internet explorer", {"--wm-name-only"});

    EXPECT_FALSE(FindBrowserWindow());
    EXPECT_FALSE(g_bBrowserFound);
    OfferToCloseBrowserWindows(nullptr);
    EXPECT_TRUE(this->m_requests.empty());
    for (CTestWindow& window : this->m_windows) this->ExpectLeftAlone(window);
}

TYPED_TEST(BrowserWindowsTest, YesClosesEveryBrowserWindowAndNothingElse) {
    CTestWindow& explorer1 = this->Open("Start - Internet Explorer", {"--wm-name-only"});
    CTestWindow& explorer2 = this->Open("News - Internet Explorer");
    CTestWindow& firefox = this->Open("Über uns – Mozilla Firefox", {"--net-name-only"});
    CTestWindow& editor = this->Open("Mozilla Firefox notes.txt - Text Editor");
    CTestWindow& terminal = this->Open("Terminal");
    CTestWindow& lowerCase = this->Open("internet explorer tips - Text Editor");

    QWidget owner;
    this->m_answer = QMessageBox::Yes;
    OfferToCloseBrowserWindows(&owner);

    ASSERT_EQ(this->m_requests.size(), 1u);
    const MessageRequest& asked = this->m_requests.front();
    EXPECT_EQ(asked.owner, &owner);
    EXPECT_EQ(asked.text, kQuestion);
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

TYPED_TEST(BrowserWindowsTest, NoLeavesEveryWindowAlone) {
    this->Open("Start - Internet Explorer");
    this->Open("News - Internet Explorer");
    this->Open("Mozilla Firefox");

    this->m_answer = QMessageBox::No;
    OfferToCloseBrowserWindows(nullptr);

    EXPECT_EQ(this->m_requests.size(), 1u);
    for (CTestWindow& window : this->m_windows) this->ExpectLeftAlone(window);
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
    m_pView->DeleteProperty("_NET_SUPPORTING_WM_CHECK");
    m_pView->DeleteProperty("_NET_CLIENT_LIST");
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
              "Vantrel needs to close Mozilla Firefox, Chromium and Brave for changes to take "
              "effect. Would you like to close the windows now?");
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

// The main dialog after Hide and No: the line below the status names the browser to restart,
// the trace records it, and both clear once that browser has ended.
TEST_F(BrowserWindowsBareTest, NotesNameTheBrowsersToRestartAfterNo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(
        QFile::copy(qEnvironmentVariable("VANTREL_TEST_SOURCE_DIR") + "/res/vantrel_settings.txt",
                    dir.filePath("vantrel_settings.txt")));
    QFile hosts(dir.filePath("hosts"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    hosts.write("127.0.0.1 localhost\n");
    hosts.close();
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("VANTREL_HOSTS_FILE", QFile::encodeName(hosts.fileName()));
    qputenv("VANTREL_STATUS_TRACE", QFile::encodeName(dir.filePath("trace")));
    QDir::setCurrent(dir.path());

    CTestWindow& chromium = Open("New Tab - Chromium", {"--class", "chromium,Chromium", "--pid"});
    Open("Start", {"--class", "Navigator,firefox-esr", "--pid"});
    m_answer = QMessageBox::No;
    {
        CVantrelDlg dlg;
        const auto* notes = dlg.findChild<QLabel*>(QStringLiteral("m_lblNotes"));
        ASSERT_NE(notes, nullptr);
        EXPECT_EQ(notes->text(), QString());
        dlg.OnOK();
        const QString restart = QStringLiteral(
            "Restart Mozilla Firefox and Chromium: until then they can still show ads.");
        EXPECT_EQ(notes->text(), restart);
        this->ExpectLeftAlone(chromium);

        chromium.process->Stop();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !notes->text().contains(QStringLiteral("Chromium")); }, 10000));
        EXPECT_EQ(notes->text(),
                  QStringLiteral("Restart Mozilla Firefox: until then it can still show ads."));

        QFile trace(dir.filePath("trace"));
        ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = trace.readAll().split('\n');
        ASSERT_GE(lines.size(), 3);
        EXPECT_EQ(lines.first(),
                  "status\tGoogle Adsense advertisements are not hidden on this PC.\tnotes\t");
        EXPECT_TRUE(
            lines.contains("status\tGoogle Adsense advertisements are hidden on this "
                           "PC.\tnotes\t" +
                           restart.toUtf8()));
        EXPECT_EQ(lines.last(), "");  // every line ends with LF
    }
    QDir::setCurrent(oldCwd);
    qputenv("HOME", oldHome);
    qunsetenv("VANTREL_STATUS_TRACE");
    qunsetenv("VANTREL_HOSTS_FILE");
}

// The main dialog's toggle asks after every change, either way, and also when the hosts file
// could not be changed at all.
TEST_F(BrowserWindowsBareTest, TheMainDialogAsksAfterEveryToggle) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = qEnvironmentVariable("VANTREL_TEST_SOURCE_DIR");
    ASSERT_TRUE(
        QFile::copy(source + "/res/vantrel_settings.txt", dir.filePath("vantrel_settings.txt")));
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString hosts = dir.filePath("hosts");
    {
        QFile file(hosts);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("127.0.0.1 localhost\n");
    }
    qputenv("VANTREL_HOSTS_FILE", QFile::encodeName(hosts));
    CTestWindow& firefox = Open("Start - Mozilla Firefox");
    m_answer = QMessageBox::No;  // the window stays for the next toggle
    const auto toggle = [](CVantrelDlg& dlg) {
        FindControl<QPushButton>(&dlg, CVantrelDlg::kIdToggle)->click();
    };
    const auto fileHolds = [&] {
        QFile file(hosts);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    {
        CVantrelDlg dlg;
        toggle(dlg);
        EXPECT_TRUE(fileHolds().contains("# Begin Vantrel"));
        ASSERT_EQ(m_requests.size(), 1u);
        EXPECT_EQ(m_requests[0].owner, &dlg);
        EXPECT_EQ(m_requests[0].text, kQuestion);
        toggle(dlg);
        EXPECT_FALSE(fileHolds().contains("# Begin Vantrel"));
        EXPECT_EQ(m_requests.size(), 2u);
    }
    // A file that cannot be written: nothing changes, and the question still comes.
    qputenv("VANTREL_HOSTS_FILE", geteuid() == 0 ? QByteArray("/proc/version")
                                                 : QFile::encodeName(dir.filePath("gone/hosts")));
    {
        CVantrelDlg dlg;
        toggle(dlg);
        EXPECT_EQ(m_requests.size(), 3u);
    }
    ExpectLeftAlone(firefox);
    QDir::setCurrent(oldCwd);
    qunsetenv("VANTREL_HOSTS_FILE");
}

TEST(BrowserWindowsWithoutDisplay, NothingIsFoundAndNothingAsked) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    int asked = 0;
    const MessageHook old = SetMessageHook([&](const MessageRequest&) {
        ++asked;
        return QMessageBox::Yes;
    });

    OfferToCloseBrowserWindows(nullptr);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(FindBrowserWindow());
    EXPECT_TRUE(CloseBrowserWindows().empty());
    EXPECT_FALSE(FindBrowserWindow("unix:/nonexistent/X0"));

    SetMessageHook(old);
    if (display) setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
