// A stand-in for another program's window: opens one titled window and reports on stdout what
// it is sent ("ready <id>", "delete", "ping"); it exits when asked to close or cut off.
//   vantrel_test_window TITLE [--net-name-only | --wm-name-only] [--no-delete] [--framed]
//                       [--class INSTANCE,CLASS] [--pid] [--linger]
// --pid names this process and host in _NET_WM_PID and WM_CLIENT_MACHINE; --linger keeps the
// process running after its window closed, as a browser in background mode does.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

xcb_connection_t* g_pConnection = nullptr;

xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        g_pConnection,
        xcb_intern_atom(g_pConnection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

void SetText(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const std::string& text) {
    xcb_change_property(g_pConnection, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                        static_cast<std::uint32_t>(text.size()), text.data());
}

void Sync() {
    std::free(
        xcb_get_input_focus_reply(g_pConnection, xcb_get_input_focus(g_pConnection), nullptr));
}

void Report(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 64;
    const std::string title = argv[1];
    bool netName = true, wmName = true, deleteProtocol = true, framed = false, pid = false,
         linger = false;
    std::string wmClass;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--class" && i + 1 < argc) wmClass = argv[++i];
        if (option == "--pid") pid = true;
        if (option == "--linger") linger = true;
        if (option == "--net-name-only") wmName = false;
        if (option == "--wm-name-only") netName = false;
        if (option == "--no-delete") deleteProtocol = false;
        if (option == "--framed") framed = true;
    }

    g_pConnection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(g_pConnection)) return 2;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(g_pConnection)).data;
    const xcb_atom_t wmProtocols = Atom("WM_PROTOCOLS");
    const xcb_atom_t wmDeleteWindow = Atom("WM_DELETE_WINDOW");
    const xcb_atom_t ping = Atom("VANTREL_TEST_PING");

    // --framed plays a reparenting window manager that keeps no client list: an untitled frame
    // on the root, the titled client inside, marked with WM_STATE.
    xcb_window_t parent = screen->root;
    xcb_window_t frame = XCB_NONE;
    if (framed) {
        frame = xcb_generate_id(g_pConnection);
        xcb_create_window(g_pConnection, XCB_COPY_FROM_PARENT, frame, screen->root, 10, 10, 220,
                          140, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        parent = frame;
    }
    const xcb_window_t window = xcb_generate_id(g_pConnection);
    const std::uint32_t eventMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_create_window(g_pConnection, XCB_COPY_FROM_PARENT, window, parent, 10, 10, 200, 120, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                      &eventMask);
    if (netName) SetText(window, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), title);
    if (wmName) SetText(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
    if (!wmClass.empty()) {
        // "instance\0class\0"
        std::string value = wmClass;
        if (const auto comma = value.find(','); comma != std::string::npos) value[comma] = '\0';
        value.push_back('\0');
        SetText(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, value);
    }
    if (pid) {
        const std::uint32_t self = static_cast<std::uint32_t>(getpid());
        xcb_change_property(g_pConnection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &self);
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        SetText(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host);
    }
    if (deleteProtocol) {
        xcb_change_property(g_pConnection, XCB_PROP_MODE_REPLACE, window, wmProtocols,
                            XCB_ATOM_ATOM, 32, 1, &wmDeleteWindow);
    }
    xcb_map_window(g_pConnection, window);
    if (framed) {
        const xcb_atom_t wmState = Atom("WM_STATE");
        const std::uint32_t normalState[2] = {1, XCB_NONE};
        xcb_change_property(g_pConnection, XCB_PROP_MODE_REPLACE, window, wmState, wmState, 32, 2,
                            normalState);
        xcb_map_window(g_pConnection, frame);
    }
    Sync();
    Report("ready " + std::to_string(window));

    while (xcb_generic_event_t* event = xcb_wait_for_event(g_pConnection)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->type == wmProtocols && message->data.data32[0] == wmDeleteWindow) {
                xcb_destroy_window(g_pConnection, framed ? frame : window);
                Sync();
                Report("delete");
                std::free(event);
                xcb_disconnect(g_pConnection);
                if (linger) pause();
                return 0;
            }
            if (message->type == ping) Report("ping");
        }
        std::free(event);
    }
    // The connection was cut: a window manager killed the client.
    return 3;
}
