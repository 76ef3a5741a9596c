// Finding the user's browsers by their processes, in a /proc tree of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/browsers/BrowserProcesses.h"

namespace {

// A /proc tree of our own: a Chromium with a renderer, a Firefox whose content process has
// blanks and parentheses in its name, another user's browser, and a browser that has ended.
TEST(BrowserProcesses, MainProcessesOfTheUsersOwnBrowsers) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("vantrel-proc-" + std::to_string(getpid()));
    fs::remove_all(root);
    const auto add = [&](int pid, int parent, const std::string& exe, unsigned uid,
                         char state = 'S', const std::string& comm = "x") {
        const fs::path dir = root / std::to_string(pid);
        fs::create_directories(dir);
        fs::create_symlink(exe, dir / "exe");
        std::ofstream(dir / "stat")
            << pid << " (" << comm << ") " << state << ' ' << parent << " 1 1 0\n";
        std::ofstream(dir / "status") << "Name:\t" << comm << "\nUid:\t" << uid << '\t' << uid
                                      << '\t' << uid << '\t' << uid << "\n";
    };
    const unsigned me = getuid();
    add(1, 0, "/sbin/init", 0);
    add(100, 1, "/usr/lib/chromium/chromium", me);
    add(101, 100, "/usr/lib/chromium/chromium", me);  // its zygote
    add(200, 1, "/usr/lib/firefox-esr/firefox-esr (deleted)", me);
    add(201, 200, "/usr/lib/firefox-esr/firefox-esr", me, 'S', "Isolated Web Co) (1");
    add(300, 1, "/opt/google/chrome/chrome", me + 1);
    add(400, 1, "/opt/brave.com/brave/brave", me, 'Z');
    add(500, 1, "/usr/bin/bash", me);

    std::vector<std::pair<int, Browser>> found;
    for (const BrowserProcess& p : FindBrowserProcesses(root.string()))
        found.emplace_back(p.pid, p.browser);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::pair<int, Browser>>{{100, Browser::Chromium},
                                                           {200, Browser::Firefox}}));
    EXPECT_TRUE(ProcessRunning(201, root.string()));
    EXPECT_FALSE(ProcessRunning(400, root.string()));
    EXPECT_FALSE(ProcessRunning(999, root.string()));
    EXPECT_EQ(ProgramOfProcess(200, root.string()), "firefox-esr");
    fs::remove_all(root);
}

}  // namespace
