// Moving running browsers onto a changed hosts file without closing them: a network-change
// announcement (a throwaway address added to the loopback interface and removed again), then the
// end of the connections the user's browsers still hold to the ad servers' old addresses
// (inet_diag SOCK_DESTROY). Linux only, over netlink. Listing needs no privilege; announcing and
// ending need CAP_NET_ADMIN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/browsers/BrowserSockets.h"

// Binary addresses (4 or 16 bytes) from their text form; nullopt when one is neither.
std::optional<std::vector<std::string>> ParsePeerAddresses(const std::vector<std::string>& texts);
// The text form of a binary address ("127.0.0.2", "::2").
std::string PeerAddressText(std::string_view address);

// The socket inodes held by every process (main, renderer, network service...) of a browser
// that `uid` runs.
std::set<std::uint64_t> BrowserSocketInodes(unsigned uid, const std::string& procRoot = "/proc");

// The TCP and UDP sockets, both families, of `uid`'s browsers whose peer is one of `peers` on
// port 80 or 443; nullopt when the kernel's list could not be read.
std::optional<std::vector<InetSocket>> BrowserSocketsTo(unsigned uid,
                                                        const std::vector<std::string>& peers);

// Whether this kernel can end another program's sockets (CONFIG_INET_DIAG_DESTROY); asked
// without privileges.
enum class SocketEndingSupport { Supported, Unsupported, Unknown };
SocketEndingSupport ProbeSocketEnding();

struct SocketEndingResult {
    std::size_t ended = 0;
    std::size_t failed = 0;
    bool unsupported = false;
};
// Ends those sockets; the browser sees each connection aborted and opens a new one.
SocketEndingResult EndBrowserSocketsTo(unsigned uid, const std::vector<std::string>& peers);

// The throwaway address: in 127/8, where nothing listens on it alone, with a label that names
// its owner. The kernel itself deletes it after kThrowawayLifetimeSeconds, so it never outlives
// a helper killed while it holds it; the next announcement removes one left behind first.
inline constexpr const char* kThrowawayAddress = "127.255.255.254";
inline constexpr const char* kThrowawayLabel = "lo:vantrel";
inline constexpr unsigned kThrowawayLifetimeSeconds = 4;
// Long enough for Firefox, which waits about a second before it acts on a change.
inline constexpr int kAnnounceHoldMs = 1500;

bool AddThrowawayAddress();
// Removes the address only where it carries kThrowawayLabel: the same address an administrator
// gave lo stays. True also when there was none to remove.
bool RemoveThrowawayAddress();
// Adds the address, holds it for holdMs, removes it. False when it could not be added.
bool AnnounceNetworkChange(int holdMs = kAnnounceHoldMs);

// The whole step, after the hosts file changed: when `uid` runs a browser, announce the change,
// then end its browsers' sockets to `peers`. Touches nothing when no browser runs.
void MoveBrowsersToNewAnswers(unsigned uid, const std::vector<std::string>& peers);

// The privileged helper's arguments for the step: "--reconnect" and the addresses, after its
// command.
inline constexpr const char* kReconnectOption = "--reconnect";
inline constexpr std::size_t kMaxReconnectPeers = 256;
// Takes "--reconnect ADDRESS..." off the end of `args`. Nothing when it is not there; *bad
// when it is there but not a list of at most kMaxReconnectPeers addresses (args left as they were).
std::optional<std::vector<std::string>> TakeReconnectArguments(std::vector<std::string>& args,
                                                               bool* bad);
// The user the helper acts for: pkexec's PKEXEC_UID when given, else the real user.
unsigned CallerUid(const char* pkexecUid);
