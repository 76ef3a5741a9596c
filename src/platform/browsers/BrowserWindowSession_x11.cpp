// The window system on X11, through libxcb: client windows, their titles, polite close requests.
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/browsers/BrowserWindowSession.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// Titles longer than this (in 32-bit units) are read only up to it.
constexpr std::uint32_t kMaxPropertyLongs = 1u << 18;
// How deep a reparenting window manager may bury a client below its frame.
constexpr int kMaxFrameDepth = 6;

enum AtomIndex {
    kNetClientList,
    kNetSupportingWmCheck,
    kNetWmName,
    kNetCloseWindow,
    kUtf8String,
    kWmState,
    kWmProtocols,
    kWmDeleteWindow,
    kNetWmPid,
    kAtomCount
};

constexpr const char* kAtomNames[kAtomCount] = {
    "_NET_CLIENT_LIST", "_NET_SUPPORTING_WM_CHECK",
    "_NET_WM_NAME",     "_NET_CLOSE_WINDOW",
    "UTF8_STRING",      "WM_STATE",
    "WM_PROTOCOLS",     "WM_DELETE_WINDOW",
    "_NET_WM_PID",
};

// Source indication of a close request made on the user's behalf by another program (a pager).
constexpr std::uint32_t kSourcePager = 2;

}  // namespace

struct CWindowSession::Impl {
    xcb_connection_t* m_pConnection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    xcb_atom_t m_atoms[kAtomCount] = {};
    bool m_bWmRunning = false;

    XcbReply<xcb_get_property_reply_t> ReplyOf(xcb_get_property_cookie_t cookie) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(m_pConnection, cookie, &error));
        std::free(error);
        return reply;
    }

    xcb_get_property_cookie_t AskProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                          std::uint32_t longs) {
        return xcb_get_property(m_pConnection, 0, window, property, type, 0, longs);
    }

    // The 32-bit items of a property of the given type; empty when absent or of another type.
    std::vector<std::uint32_t> Items(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
        auto reply = ReplyOf(AskProperty(window, property, type, kMaxPropertyLongs));
        if (!reply || reply->type != type || reply->format != 32) return {};
        const int bytes = xcb_get_property_value_length(reply.get());
        if (bytes < 4) return {};
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
        return std::vector<std::uint32_t>(data, data + static_cast<std::size_t>(bytes) / 4);
    }

    void InternAtoms() {
        xcb_intern_atom_cookie_t cookies[kAtomCount];
        for (int i = 0; i < kAtomCount; ++i) {
            const std::string_view name = kAtomNames[i];
            cookies[i] = xcb_intern_atom(m_pConnection, 0, static_cast<std::uint16_t>(name.size()),
                                         name.data());
        }
        for (int i = 0; i < kAtomCount; ++i) {
            XcbReply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(m_pConnection, cookies[i], nullptr));
            if (reply) m_atoms[i] = reply->atom;
        }
    }

    // A window manager proves it is alive by a check window that names itself; a property
    // left behind by one that died points to a window that is gone or says otherwise.
    bool DetectWindowManager() {
        const auto root = Items(m_root, m_atoms[kNetSupportingWmCheck], XCB_ATOM_WINDOW);
        if (root.empty() || root[0] == XCB_NONE) return false;
        const auto self = Items(root[0], m_atoms[kNetSupportingWmCheck], XCB_ATOM_WINDOW);
        return !self.empty() && self[0] == root[0];
    }

    bool HasWmState(xcb_window_t window) {
        auto reply = ReplyOf(AskProperty(window, m_atoms[kWmState], XCB_GET_PROPERTY_TYPE_ANY, 0));
        return reply && reply->type != XCB_NONE;
    }

    // A top-level window is either the client itself or a frame holding it further down.
    xcb_window_t ClientOf(xcb_window_t topLevel) {
        if (HasWmState(topLevel)) return topLevel;
        std::deque<std::pair<xcb_window_t, int>> pending{{topLevel, 0}};
        while (!pending.empty()) {
            const auto [window, depth] = pending.front();
            pending.pop_front();
            if (depth >= kMaxFrameDepth) continue;
            XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
                m_pConnection, xcb_query_tree(m_pConnection, window), nullptr));
            if (!tree) continue;
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            for (int i = 0; i < count; ++i) {
                if (HasWmState(children[i])) return children[i];
                pending.emplace_back(children[i], depth + 1);
            }
        }
        // No window manager marks its clients: the top-level window is the client.
        return topLevel;
    }

    std::vector<xcb_window_t> MappedTopLevels() {
        XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_pConnection, xcb_query_tree(m_pConnection, m_root), nullptr));
        if (!tree) return {};
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(count);
        for (int i = 0; i < count; ++i) {
            cookies.push_back(xcb_get_window_attributes(m_pConnection, children[i]));
        }
        std::vector<xcb_window_t> windows;
        // The tree lists the bottom of the stack first.
        for (int i = count - 1; i >= 0; --i) {
            xcb_generic_error_t* error = nullptr;
            XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(m_pConnection, cookies[i], &error));
            std::free(error);
            // Menus and tooltips bypass the window manager and are nobody's main window.
            if (attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED &&
                !attributes->override_redirect) {
                windows.push_back(children[i]);
            }
        }
        for (xcb_window_t& window : windows) window = ClientOf(window);
        return windows;
    }

    std::vector<xcb_window_t> ClientWindows() {
        if (m_bWmRunning) {
            const auto clients = Items(m_root, m_atoms[kNetClientList], XCB_ATOM_WINDOW);
            if (!clients.empty()) return clients;
        }
        return MappedTopLevels();
    }

    void SendClientMessage(xcb_window_t destination, std::uint32_t eventMask, xcb_window_t window,
                           xcb_atom_t type, std::uint32_t data0, std::uint32_t data1) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = type;
        event.data.data32[0] = data0;
        event.data.data32[1] = data1;
        xcb_send_event(m_pConnection, 0, destination, eventMask,
                       reinterpret_cast<const char*>(&event));
    }
};

CWindowSession::CWindowSession(const char* displayName) : m_pImpl(std::make_unique<Impl>()) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return;
    }
    m_pImpl->m_pConnection = connection;
    m_pImpl->m_root = screens.data->root;
    m_pImpl->InternAtoms();
    m_pImpl->m_bWmRunning = m_pImpl->DetectWindowManager();
}

CWindowSession::~CWindowSession() {
    xcb_connection_t* connection = m_pImpl->m_pConnection;
    if (!connection) return;
    // One round trip so the server has handled every request before the connection goes;
    // this waits for the server only, never for the windows.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
}

bool CWindowSession::IsOpen() const {
    return m_pImpl->m_pConnection != nullptr;
}

void CWindowSession::EnumWindows(const std::function<bool(WindowId)>& proc) {
    if (!IsOpen()) return;
    for (xcb_window_t window : m_pImpl->ClientWindows()) {
        if (!proc(window)) return;
    }
}

std::optional<std::string> CWindowSession::GetWindowText(WindowId window) {
    if (!IsOpen()) return std::nullopt;
    Impl& x = *m_pImpl;
    // Both asked at once: one round trip per window.
    const auto netCookie =
        x.AskProperty(window, x.m_atoms[kNetWmName], x.m_atoms[kUtf8String], kMaxPropertyLongs);
    const auto legacyCookie =
        x.AskProperty(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kMaxPropertyLongs);
    const auto text = [](const xcb_get_property_reply_t* reply) {
        const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
        return std::string(data, data + xcb_get_property_value_length(reply));
    };
    auto netName = x.ReplyOf(netCookie);
    auto legacyName = x.ReplyOf(legacyCookie);
    if (netName && netName->type == x.m_atoms[kUtf8String] && netName->format == 8 &&
        xcb_get_property_value_length(netName.get()) > 0) {
        return text(netName.get());
    }
    // STRING (Latin-1) or COMPOUND_TEXT: both keep ASCII as it is, which is all we look for.
    if (legacyName && legacyName->type != XCB_NONE && legacyName->format == 8) {
        return text(legacyName.get());
    }
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> CWindowSession::GetWindowClass(WindowId window) {
    if (!IsOpen()) return std::nullopt;
    auto reply = m_pImpl->ReplyOf(
        m_pImpl->AskProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kMaxPropertyLongs));
    if (!reply || reply->type != XCB_ATOM_STRING || reply->format != 8) return std::nullopt;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const std::string value(data, data + xcb_get_property_value_length(reply.get()));
    // Two NUL-terminated strings; a client that forgot the last NUL still means the same.
    const std::size_t split = value.find('\0');
    if (split == std::string::npos) return std::make_pair(value, std::string());
    std::string className = value.substr(split + 1);
    if (const std::size_t end = className.find('\0'); end != std::string::npos)
        className.resize(end);
    return std::make_pair(value.substr(0, split), className);
}

std::optional<int> CWindowSession::GetWindowProcessId(WindowId window) {
    if (!IsOpen()) return std::nullopt;
    Impl& x = *m_pImpl;
    const auto machineCookie =
        x.AskProperty(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 256);
    const auto pids = x.Items(window, x.m_atoms[kNetWmPid], XCB_ATOM_CARDINAL);
    auto machine = x.ReplyOf(machineCookie);
    if (pids.empty() || pids[0] == 0 || pids[0] > 0x7fffffffu) return std::nullopt;
    if (machine && machine->type == XCB_ATOM_STRING && machine->format == 8) {
        const auto* data = static_cast<const char*>(xcb_get_property_value(machine.get()));
        std::string client(data, data + xcb_get_property_value_length(machine.get()));
        if (const std::size_t end = client.find('\0'); end != std::string::npos) client.resize(end);
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || client != host) return std::nullopt;
    }
    return static_cast<int>(pids[0]);
}

bool CWindowSession::WindowExists(WindowId window) {
    if (!IsOpen()) return false;
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        m_pImpl->m_pConnection, xcb_get_window_attributes(m_pImpl->m_pConnection, window), &error));
    std::free(error);
    return reply != nullptr;
}

bool CWindowSession::AskToClose(WindowId window) {
    if (!IsOpen()) return false;
    Impl& x = *m_pImpl;
    const auto protocols = x.Items(window, x.m_atoms[kWmProtocols], XCB_ATOM_ATOM);
    if (std::find(protocols.begin(), protocols.end(), x.m_atoms[kWmDeleteWindow]) !=
        protocols.end()) {
        // The window decides: it may still ask its user about unsaved work.
        x.SendClientMessage(window, XCB_EVENT_MASK_NO_EVENT, window, x.m_atoms[kWmProtocols],
                            x.m_atoms[kWmDeleteWindow], XCB_CURRENT_TIME);
        xcb_flush(x.m_pConnection);
        return true;
    }
    if (x.m_bWmRunning) {
        // The window manager closes it as its own close button would.
        x.SendClientMessage(
            x.m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            window, x.m_atoms[kNetCloseWindow], XCB_CURRENT_TIME, kSourcePager);
        xcb_flush(x.m_pConnection);
        return true;
    }
    return false;
}
