// Netlink through libmnl: inet_diag to list and end sockets, rtnetlink for the loopback address.
#include "platform/browsers/SocketEnding.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/inet_diag.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "core/browsers/BrowserNames.h"

namespace {

struct MnlClose {
    void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};
using Netlink = std::unique_ptr<mnl_socket, MnlClose>;

Netlink OpenNetlink(int bus) {
    Netlink socket(mnl_socket_open2(bus, SOCK_CLOEXEC));
    if (socket && mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) socket.reset();
    return socket;
}

// Sends one request and runs `callback` on every answer until the kernel is done; 0, or the
// errno the kernel (or the socket) answered with.
int Exchange(mnl_socket* socket, nlmsghdr* request, mnl_cb_t callback, void* data) {
    static unsigned s_sequence = 0;
    request->nlmsg_seq = ++s_sequence;
    if (mnl_socket_sendto(socket, request, request->nlmsg_len) < 0) return errno;
    const unsigned portId = mnl_socket_get_portid(socket);
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    for (;;) {
        const ssize_t n = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        const int result = mnl_cb_run(buffer.data(), static_cast<size_t>(n), request->nlmsg_seq,
                                      portId, callback, data);
        if (result < 0) return errno;
        if (result == MNL_CB_STOP) return 0;
    }
}

struct DiagSocket {
    InetSocket socket;
    std::uint8_t family = 0;
    std::uint8_t protocol = 0;
    inet_diag_sockid id{};
};

struct DumpState {
    std::uint8_t protocol = 0;
    std::vector<DiagSocket>* out = nullptr;
};

int OnDiagMessage(const nlmsghdr* message, void* data) {
    auto* state = static_cast<DumpState*>(data);
    if (mnl_nlmsg_get_payload_len(message) < sizeof(inet_diag_msg)) return MNL_CB_OK;
    const auto* diag = static_cast<const inet_diag_msg*>(mnl_nlmsg_get_payload(message));
    DiagSocket entry;
    entry.family = diag->idiag_family;
    entry.protocol = state->protocol;
    entry.id = diag->id;
    entry.socket.udp = state->protocol == IPPROTO_UDP;
    const std::size_t length = diag->idiag_family == AF_INET ? 4 : 16;
    entry.socket.peer.assign(reinterpret_cast<const char*>(diag->id.idiag_dst), length);
    entry.socket.peerPort = ntohs(diag->id.idiag_dport);
    entry.socket.inode = diag->idiag_inode;
    state->out->push_back(entry);
    return MNL_CB_OK;
}

// Every TCP and UDP socket of both families in this network namespace; nullopt when the list
// could not be read.
std::optional<std::vector<DiagSocket>> ListInetSockets() {
    const Netlink socket = OpenNetlink(NETLINK_SOCK_DIAG);
    if (!socket) return std::nullopt;
    std::vector<DiagSocket> all;
    for (const std::uint8_t family : {AF_INET, AF_INET6}) {
        for (const std::uint8_t protocol : {IPPROTO_TCP, IPPROTO_UDP}) {
            std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
            nlmsghdr* request = mnl_nlmsg_put_header(buffer.data());
            request->nlmsg_type = SOCK_DIAG_BY_FAMILY;
            request->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
            auto* query = static_cast<inet_diag_req_v2*>(
                mnl_nlmsg_put_extra_header(request, sizeof(inet_diag_req_v2)));
            query->sdiag_family = family;
            query->sdiag_protocol = protocol;
            // Listening sockets have no peer.
            query->idiag_states = protocol == IPPROTO_TCP ? ~(1u << TCP_LISTEN) : ~0u;
            DumpState state{protocol, &all};
            if (Exchange(socket.get(), request, OnDiagMessage, &state) != 0) return std::nullopt;
        }
    }
    return all;
}

// 0 when the socket was ended, else the kernel's errno.
int DestroySocket(mnl_socket* socket, const DiagSocket& target) {
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    nlmsghdr* request = mnl_nlmsg_put_header(buffer.data());
    request->nlmsg_type = SOCK_DESTROY;
    request->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    auto* query = static_cast<inet_diag_req_v2*>(
        mnl_nlmsg_put_extra_header(request, sizeof(inet_diag_req_v2)));
    query->sdiag_family = target.family;
    query->sdiag_protocol = target.protocol;
    query->idiag_states = ~0u;
    query->id = target.id;
    return Exchange(socket, request, nullptr, nullptr);
}

std::vector<DiagSocket> SelectedSockets(unsigned uid, const std::vector<std::string>& peers,
                                        const std::vector<DiagSocket>& all) {
    std::vector<InetSocket> sockets;
    sockets.reserve(all.size());
    for (const DiagSocket& entry : all) sockets.push_back(entry.socket);
    std::vector<DiagSocket> selected;
    for (const std::size_t i : SelectBrowserSockets(sockets, peers, BrowserSocketInodes(uid)))
        selected.push_back(all[i]);
    return selected;
}

// The target of the symbolic link `name` below the folder `dir`; empty when there is none.
std::string LinkTarget(int dir, const char* name) {
    char target[4096];
    const ssize_t length = ::readlinkat(dir, name, target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return {};
    return std::string(target, static_cast<std::size_t>(length));
}

std::optional<std::uint64_t> SocketInode(const std::string& target) {
    constexpr std::string_view kPrefix = "socket:[";
    if (!target.starts_with(kPrefix) || !target.ends_with("]")) return std::nullopt;
    std::uint64_t inode = 0;
    for (std::size_t i = kPrefix.size(); i + 1 < target.size(); ++i) {
        if (target[i] < '0' || target[i] > '9') return std::nullopt;
        inode = inode * 10 + static_cast<unsigned>(target[i] - '0');
    }
    return inode;
}

// The process's entries are all read through `process`, its own /proc folder opened once: a
// process that ends meanwhile leaves that handle empty (ESRCH), so the next one to get its PID
// can add nothing to what is read about it.
std::optional<unsigned> RealUid(int process) {
    const int fd = ::openat(process, "status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (text.size() < 65536 && (got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Uid:", 0) != 0) continue;
        std::istringstream fields(line.substr(4));
        unsigned uid = 0;
        if (fields >> uid) return uid;
        break;
    }
    return std::nullopt;
}

bool IsBrowserProcess(int process) {
    std::string program = std::filesystem::path(LinkTarget(process, "exe")).filename();
    if (program.empty()) return false;
    constexpr std::string_view kDeleted = " (deleted)";
    if (program.ends_with(kDeleted)) program.resize(program.size() - kDeleted.size());
    return BrowserOfProgram(program).has_value();
}

void AddSocketInodes(int process, std::set<std::uint64_t>& inodes) {
    const int fds = ::openat(process, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fds < 0) return;
    DIR* dir = ::fdopendir(fds);
    if (!dir) {
        ::close(fds);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (const auto inode = SocketInode(LinkTarget(fds, entry->d_name))) inodes.insert(*inode);
    }
    ::closedir(dir);
}

// The loopback address request: the throwaway address with its label and, when adding, the
// lifetime after which the kernel deletes it by itself.
int ThrowawayAddressRequest(std::uint16_t type, std::uint16_t flags) {
    const unsigned loopback = if_nametoindex("lo");
    in_addr address{};
    if (loopback == 0 || inet_pton(AF_INET, kThrowawayAddress, &address) != 1) return ENODEV;
    const Netlink socket = OpenNetlink(NETLINK_ROUTE);
    if (!socket) return errno;
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    nlmsghdr* request = mnl_nlmsg_put_header(buffer.data());
    request->nlmsg_type = type;
    request->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | flags;
    auto* header = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ifaddrmsg)));
    header->ifa_family = AF_INET;
    header->ifa_prefixlen = 32;
    header->ifa_scope = RT_SCOPE_HOST;
    header->ifa_index = loopback;
    mnl_attr_put(request, IFA_LOCAL, sizeof address, &address);
    mnl_attr_put(request, IFA_ADDRESS, sizeof address, &address);
    // The kernel deletes only an address that carries the label asked for: one an administrator
    // gave lo (with another label, or none) stays.
    mnl_attr_put_strz(request, IFA_LABEL, kThrowawayLabel);
    if (type == RTM_NEWADDR) {
        ifa_cacheinfo lifetime{};
        lifetime.ifa_prefered = kThrowawayLifetimeSeconds;
        lifetime.ifa_valid = kThrowawayLifetimeSeconds;
        mnl_attr_put(request, IFA_CACHEINFO, sizeof lifetime, &lifetime);
    }
    return Exchange(socket.get(), request, nullptr, nullptr);
}

}  // namespace

std::optional<std::vector<std::string>> ParsePeerAddresses(const std::vector<std::string>& texts) {
    std::vector<std::string> addresses;
    for (const std::string& text : texts) {
        unsigned char binary[16];
        if (inet_pton(AF_INET, text.c_str(), binary) == 1)
            addresses.emplace_back(reinterpret_cast<const char*>(binary), 4);
        else if (inet_pton(AF_INET6, text.c_str(), binary) == 1)
            addresses.emplace_back(reinterpret_cast<const char*>(binary), 16);
        else
            return std::nullopt;
    }
    return addresses;
}

std::string PeerAddressText(std::string_view address) {
    char text[INET6_ADDRSTRLEN] = {};
    const int family = address.size() == 4 ? AF_INET : address.size() == 16 ? AF_INET6 : 0;
    if (family == 0 || !inet_ntop(family, address.data(), text, sizeof text)) return {};
    return text;
}

std::set<std::uint64_t> BrowserSocketInodes(unsigned uid, const std::string& procRoot) {
    std::set<std::uint64_t> inodes;
    DIR* proc = ::opendir(procRoot.c_str());
    if (!proc) return inodes;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string_view name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        const int process =
            ::openat(::dirfd(proc), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (process < 0) continue;
        if (RealUid(process) == uid && IsBrowserProcess(process)) AddSocketInodes(process, inodes);
        ::close(process);
    }
    ::closedir(proc);
    return inodes;
}

std::optional<std::vector<InetSocket>> BrowserSocketsTo(unsigned uid,
                                                        const std::vector<std::string>& peers) {
    const std::optional<std::vector<DiagSocket>> all = ListInetSockets();
    if (!all) return std::nullopt;
    std::vector<InetSocket> found;
    for (const DiagSocket& entry : SelectedSockets(uid, peers, *all)) found.push_back(entry.socket);
    return found;
}

SocketEndingSupport ProbeSocketEnding() {
    // A request for a socket that cannot exist: a kernel without the operation refuses it before
    // it looks the socket up or asks for privileges.
    const Netlink socket = OpenNetlink(NETLINK_SOCK_DIAG);
    if (!socket) return SocketEndingSupport::Unknown;
    DiagSocket nothing;
    nothing.family = AF_INET;
    nothing.protocol = IPPROTO_TCP;
    const int error = DestroySocket(socket.get(), nothing);
    if (error == EOPNOTSUPP) return SocketEndingSupport::Unsupported;
    return error == ENOENT || error == EPERM || error == 0 ? SocketEndingSupport::Supported
                                                           : SocketEndingSupport::Unknown;
}

SocketEndingResult EndBrowserSocketsTo(unsigned uid, const std::vector<std::string>& peers) {
    SocketEndingResult result;
    const std::optional<std::vector<DiagSocket>> all = ListInetSockets();
    const Netlink socket = OpenNetlink(NETLINK_SOCK_DIAG);
    if (!all || !socket) return result;
    for (const DiagSocket& target : SelectedSockets(uid, peers, *all)) {
        const int error = DestroySocket(socket.get(), target);
        if (error == 0 || error == ENOENT) {
            ++result.ended;  // ENOENT: it ended by itself meanwhile
        } else {
            ++result.failed;
            if (error == EOPNOTSUPP) result.unsupported = true;
        }
    }
    return result;
}

bool AddThrowawayAddress() {
    return ThrowawayAddressRequest(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL) == 0;
}

bool RemoveThrowawayAddress() {
    const int error = ThrowawayAddressRequest(RTM_DELADDR, 0);
    return error == 0 || error == EADDRNOTAVAIL || error == ENOENT;
}

bool AnnounceNetworkChange(int holdMs) {
    // One left behind would keep the add from being an event at all.
    RemoveThrowawayAddress();
    if (!AddThrowawayAddress()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    RemoveThrowawayAddress();
    return true;
}

void MoveBrowsersToNewAnswers(unsigned uid, const std::vector<std::string>& peers) {
    if (BrowserSocketInodes(uid).empty()) return;
    // First the announcement: browsers drop their pools and caches and look names up anew, so
    // the connections that are ended next are not opened again to the old addresses.
    AnnounceNetworkChange();
    EndBrowserSocketsTo(uid, peers);
}

std::optional<std::vector<std::string>> TakeReconnectArguments(std::vector<std::string>& args,
                                                               bool* bad) {
    *bad = false;
    const auto option = std::find(args.begin(), args.end(), kReconnectOption);
    if (option == args.end()) return std::nullopt;
    const std::vector<std::string> texts(option + 1, args.end());
    std::optional<std::vector<std::string>> peers = ParsePeerAddresses(texts);
    if (texts.size() > kMaxReconnectPeers || !peers) {
        *bad = true;
        return std::nullopt;
    }
    args.erase(option, args.end());
    return peers;
}

unsigned CallerUid(const char* pkexecUid) {
    const std::string text = pkexecUid != nullptr ? pkexecUid : "";
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return ::getuid();
    return static_cast<unsigned>(std::stoul(text));
}
