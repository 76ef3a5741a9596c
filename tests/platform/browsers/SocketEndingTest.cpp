// Whose sockets the privileged step may end (every process of the user's own browsers, nothing
// else) and what it accepts from its command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/browsers/SocketEnding.h"

namespace {

TEST(SocketEnding, SocketsOfEveryProcessOfTheUsersBrowsersOnly) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("vantrel-fds-" + std::to_string(getpid()));
    fs::remove_all(root);
    const auto add = [&](int pid, const std::string& exe, unsigned uid,
                         const std::vector<std::string>& fds) {
        const fs::path dir = root / std::to_string(pid);
        fs::create_directories(dir / "fd");
        fs::create_symlink(exe, dir / "exe");
        std::ofstream(dir / "status")
            << "Name:\tx\nUid:\t" << uid << '\t' << uid << '\t' << uid << '\t' << uid << "\n";
        for (std::size_t i = 0; i < fds.size(); ++i)
            fs::create_symlink(fds[i], dir / "fd" / std::to_string(i));
    };
    const unsigned me = 1000;
    add(100, "/usr/lib/chromium/chromium", me, {"socket:[11]", "pipe:[50]", "/dev/null"});
    add(101, "/usr/lib/chromium/chromium", me, {"socket:[12]"});  // its network service
    add(200, "/usr/lib/firefox-esr/firefox-esr (deleted)", me, {"socket:[21]"});
    add(300, "/usr/bin/python3.11", me, {"socket:[31]"});            // not a browser
    add(400, "/opt/google/chrome/chrome", me + 1, {"socket:[41]"});  // another user's
    add(500, "/usr/lib/chromium/chromium", me, {"socket:[bad]", "socket:[51"});

    EXPECT_EQ(BrowserSocketInodes(me, root.string()), (std::set<std::uint64_t>{11, 12, 21}));
    EXPECT_EQ(BrowserSocketInodes(me + 1, root.string()), (std::set<std::uint64_t>{41}));
    EXPECT_TRUE(BrowserSocketInodes(me + 2, root.string()).empty());
    fs::remove_all(root);
}

TEST(SocketEnding, HelperTakesOnlyAddressesAfterItsOption) {
    bool bad = true;
    std::vector<std::string> args = {"add", "--reconnect", "127.0.0.2", "::2"};
    const auto peers = TakeReconnectArguments(args, &bad);
    EXPECT_FALSE(bad);
    EXPECT_EQ(args, std::vector<std::string>{"add"});
    ASSERT_TRUE(peers);
    ASSERT_EQ(peers->size(), 2u);
    EXPECT_EQ(PeerAddressText((*peers)[0]), "127.0.0.2");
    EXPECT_EQ(PeerAddressText((*peers)[1]), "::2");

    args = {"remove"};
    EXPECT_FALSE(TakeReconnectArguments(args, &bad));
    EXPECT_FALSE(bad);
    EXPECT_EQ(args, std::vector<std::string>{"remove"});

    for (std::vector<std::string> refused : {
             std::vector<std::string>{"add", "--reconnect", "127.0.0.2", "evil.example"},
             std::vector<std::string>{"add", "--reconnect", "127.0.0.2", "--reconnect"},
             std::vector<std::string>{"add", "--reconnect", "10.0.0.1/8"},
         }) {
        const auto before = refused;
        EXPECT_FALSE(TakeReconnectArguments(refused, &bad));
        EXPECT_TRUE(bad) << refused.back();
        EXPECT_EQ(refused, before);
    }
    std::vector<std::string> many = {"add", "--reconnect"};
    many.resize(2 + kMaxReconnectPeers + 1, "127.0.0.2");
    EXPECT_FALSE(TakeReconnectArguments(many, &bad));
    EXPECT_TRUE(bad);

    EXPECT_EQ(CallerUid("1000"), 1000u);
    EXPECT_EQ(CallerUid(nullptr), getuid());
    EXPECT_EQ(CallerUid("1000; rm"), getuid());
}

}  // namespace
