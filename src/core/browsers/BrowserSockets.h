// Which open connections of the user's browsers still lead to the ad servers after a change of
// the hosts file, and whether the running browsers can be moved onto the new answers at all.
// Plain C++: the kernel's socket list and the processes come from the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// One TCP or UDP socket as the kernel lists it. Addresses are binary: 4 bytes (IPv4) or 16
// (IPv6).
struct InetSocket {
    bool udp = false;
    std::string peer;
    unsigned peerPort = 0;
    std::uint64_t inode = 0;
};

// The form peers are compared in: an IPv4-mapped IPv6 address (::ffff:a.b.c.d) as its 4 bytes,
// everything else as it is.
std::string ComparablePeer(std::string_view address);
// This PC itself, in any form: the wildcard addresses (0.0.0.0, ::), loopback (127.0.0.0/8, ::1),
// the same as IPv4-mapped IPv6 addresses, and addresses of any other length. A hosts block's own
// answers, and the user's local servers (a web server on 127.x): their connections are never
// ended.
bool IsThisMachine(std::string_view address);
// Web traffic only: HTTP and HTTPS, over TCP or QUIC.
bool IsWebPort(unsigned port);

// The sockets (their indexes) that belong to a browser (their inode is one of browserInodes)
// and lead to one of `peers` on a web port, none of them this machine. Nothing else is chosen.
std::vector<std::size_t> SelectBrowserSockets(const std::vector<InetSocket>& sockets,
                                              const std::vector<std::string>& peers,
                                              const std::set<std::uint64_t>& browserInodes);

// What kept the running browsers from being moved onto the new answers; None when they were.
enum class LiveApplyBlock {
    None,
    TurnedOff,  // by the user, or not the system hosts file: the browsers are offered to be closed
    NoPrivilegedStep,  // the hosts file was written without administrator rights
    NoSocketEnding,    // the kernel cannot end another program's connections
    FirefoxDoh,        // a running Firefox resolves over HTTPS and reads the hosts file once
    ConnectionsLeft,   // connections to the old addresses are still open afterwards
    NotOnThisSystem,   // this system cannot move them yet: the browsers are offered to be closed
};

struct LiveApplyFacts {
    bool turnedOn = true;
    bool privileged = false;        // the write ran as root (the helper, or the program itself)
    bool socketEndingWorks = true;  // the kernel has SOCK_DESTROY
    bool firefoxDohRunning = false;
    std::size_t connectionsLeft = 0;
};

// The first reason that applies, in the order a user can act on them.
LiveApplyBlock WhyNotLive(const LiveApplyFacts& facts);
