// Which browser connections are ended after a hosts change, and when the program must fall back
// to asking the user to close the browsers.
#include <gtest/gtest.h>

#include "core/browsers/BrowserSockets.h"
#include "core/protection/ProtectionNotes.h"

namespace {

std::string V4(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
    const unsigned char bytes[] = {a, b, c, d};
    return std::string(reinterpret_cast<const char*>(bytes), 4);
}

std::string V6(std::initializer_list<unsigned char> tail, bool mapped = false) {
    std::string bytes(16, '\0');
    if (mapped) bytes[10] = bytes[11] = '\xff';
    std::size_t i = 16 - tail.size();
    for (unsigned char b : tail) bytes[i++] = static_cast<char>(b);
    return bytes;
}

TEST(BrowserSockets, OnlyBrowserConnectionsToTheOldAddressesOnWebPorts) {
    const std::string adV4 = V4(203, 0, 113, 7), adV6 = V6({0x02}), other = V4(198, 51, 100, 1);
    const std::vector<InetSocket> sockets = {
        {false, adV4, 443, 10},                        // 0: browser, HTTPS to the ad server
        {false, adV6, 80, 11},                         // 1: browser, HTTP over IPv6
        {true, adV4, 443, 12},                         // 2: browser, QUIC
        {false, V6({203, 0, 113, 7}, true), 443, 13},  // 3: browser, IPv4 through a v6 socket
        {false, adV4, 8443, 14},                       // 4: browser, not a web port
        {false, other, 443, 15},                       // 5: browser, another site
        {false, adV4, 443, 99},                        // 6: another program, same peer
        {false, adV4, 443, 0},                         // 7: a socket no process holds
        {false, V4(0, 0, 0, 0), 443, 16},              // 8: unconnected
    };
    const std::set<std::uint64_t> browser = {10, 11, 12, 13, 14, 15, 16};
    // The unspecified addresses a hosts block gives are never a peer to end.
    const std::vector<std::string> peers = {adV4, adV6, V4(0, 0, 0, 0), V6({})};
    EXPECT_EQ(SelectBrowserSockets(sockets, peers, browser),
              (std::vector<std::size_t>{0, 1, 2, 3}));
    // A peer given in its mapped form matches the plain IPv4 socket as well.
    EXPECT_EQ(SelectBrowserSockets(sockets, {V6({203, 0, 113, 7}, true)}, browser),
              (std::vector<std::size_t>{0, 2, 3}));
    EXPECT_TRUE(SelectBrowserSockets(sockets, peers, {}).empty());
    EXPECT_TRUE(SelectBrowserSockets(sockets, {}, browser).empty());
}

TEST(BrowserSockets, NeverAConnectionToThisMachine) {
    // A list that sends names to 127.x must not cut the user's browser off their own web server.
    const std::string local[] = {V4(127, 0, 0, 1),
                                 V4(127, 1, 2, 3),
                                 V4(127, 255, 255, 254),
                                 V4(0, 0, 0, 0),
                                 V6({}),
                                 V6({1}),
                                 V6({127, 0, 0, 1}, true),
                                 V6({0, 0, 0, 0}, true),
                                 "ab"};
    const std::string remote[] = {V4(126, 255, 255, 255), V4(128, 0, 0, 1),
                                  V4(10, 0, 0, 1),        V6({2}),
                                  V6({0x01, 0x01}),       V6({1, 0, 0, 0, 0})};
    std::vector<InetSocket> sockets;
    std::vector<std::string> peers;
    std::set<std::uint64_t> browser;
    for (const std::string& address : local) {
        EXPECT_TRUE(IsThisMachine(address)) << sockets.size();
        sockets.push_back({false, address, 443, sockets.size() + 1});
    }
    const std::size_t firstRemote = sockets.size();
    for (const std::string& address : remote) {
        EXPECT_FALSE(IsThisMachine(address)) << sockets.size();
        sockets.push_back({false, address, 443, sockets.size() + 1});
    }
    for (const InetSocket& socket : sockets) {
        peers.push_back(socket.peer);
        browser.insert(socket.inode);
    }
    std::vector<std::size_t> expected;
    for (std::size_t i = firstRemote; i < sockets.size(); ++i) expected.push_back(i);
    EXPECT_EQ(SelectBrowserSockets(sockets, peers, browser), expected);
}

TEST(BrowserSockets, FallsBackForTheFirstReasonAndSaysWhyOnlyWhileABrowserMustRestart) {
    LiveApplyFacts facts;
    facts.privileged = true;
    EXPECT_EQ(WhyNotLive(facts), LiveApplyBlock::None);
    facts.connectionsLeft = 2;
    EXPECT_EQ(WhyNotLive(facts), LiveApplyBlock::ConnectionsLeft);
    facts.firefoxDohRunning = true;
    EXPECT_EQ(WhyNotLive(facts), LiveApplyBlock::FirefoxDoh);
    facts.socketEndingWorks = false;
    EXPECT_EQ(WhyNotLive(facts), LiveApplyBlock::NoSocketEnding);
    facts.privileged = false;
    EXPECT_EQ(WhyNotLive(facts), LiveApplyBlock::NoPrivilegedStep);
    facts.turnedOn = false;
    EXPECT_EQ(WhyNotLive(facts), LiveApplyBlock::TurnedOff);

    ProtectionFacts notes;
    notes.notLive = LiveApplyBlock::NoSocketEnding;
    EXPECT_TRUE(NotesLines(notes).empty()) << "no browser left to restart: nothing to explain";
    notes.restart = {Browser::Chromium};
    EXPECT_EQ(NotesLines(notes),
              (std::vector<std::string>{
                  "Restart Chromium: until then it can still show ads.",
                  "Open browsers were not updated: this system cannot end their connections."}));
    // Turned off by the user: the old behaviour, nothing to explain.
    notes.notLive = LiveApplyBlock::TurnedOff;
    EXPECT_EQ(NotesLines(notes).size(), 1u);
}

}  // namespace
