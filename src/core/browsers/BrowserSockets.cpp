// Choosing the browsers' sockets to end, and whether ending them can be trusted to have worked.
#include "core/browsers/BrowserSockets.h"

#include <algorithm>

namespace {
constexpr std::string_view kMappedPrefix("\0\0\0\0\0\0\0\0\0\0\xff\xff", 12);
}  // namespace

std::string ComparablePeer(std::string_view address) {
    if (address.size() == 16 && address.substr(0, 12) == kMappedPrefix)
        return std::string(address.substr(12));
    return std::string(address);
}

bool IsThisMachine(std::string_view address) {
    const std::string comparable = ComparablePeer(address);
    if (comparable.size() == 4) return comparable[0] == 127 || comparable == std::string(4, '\0');
    if (comparable.size() != 16) return true;
    const bool zeroHead =
        std::all_of(comparable.begin(), comparable.end() - 1, [](char c) { return c == 0; });
    return zeroHead && (comparable.back() == 0 || comparable.back() == 1);
}

bool IsWebPort(unsigned port) {
    return port == 80 || port == 443;
}

std::vector<std::size_t> SelectBrowserSockets(const std::vector<InetSocket>& sockets,
                                              const std::vector<std::string>& peers,
                                              const std::set<std::uint64_t>& browserInodes) {
    std::set<std::string> wanted;
    for (const std::string& peer : peers) {
        if (!IsThisMachine(peer)) wanted.insert(ComparablePeer(peer));
    }
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const InetSocket& socket = sockets[i];
        // Inode 0 is a socket that is already gone from every process.
        if (socket.inode == 0 || !browserInodes.count(socket.inode)) continue;
        if (!IsWebPort(socket.peerPort)) continue;
        if (wanted.count(ComparablePeer(socket.peer))) chosen.push_back(i);
    }
    return chosen;
}

LiveApplyBlock WhyNotLive(const LiveApplyFacts& facts) {
    if (!facts.turnedOn) return LiveApplyBlock::TurnedOff;
    if (!facts.privileged) return LiveApplyBlock::NoPrivilegedStep;
    if (!facts.socketEndingWorks) return LiveApplyBlock::NoSocketEnding;
    if (facts.firefoxDohRunning) return LiveApplyBlock::FirefoxDoh;
    if (facts.connectionsLeft > 0) return LiveApplyBlock::ConnectionsLeft;
    return LiveApplyBlock::None;
}
