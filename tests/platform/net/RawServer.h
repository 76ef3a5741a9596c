// A raw HTTP server on 127.0.0.1 inside the test program, the same on every system: it records
// each request's bytes and answers with what its handler sends, one connection after the other.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/TestSocket.h"

class RawServer {
public:
    // The connection a handler answers on.
    class Reply {
    public:
        explicit Reply(TestSocket socket) : m_socket(socket) {}
        bool Send(const std::string& bytes) { return SendAllTo(m_socket, bytes); }
        // The connection ends with a reset instead of an orderly close.
        void Reset() { ResetOnClose(m_socket); }

    private:
        TestSocket m_socket;
    };
    // Answers one request; true closes the connection, false keeps it open, silent, until the
    // server ends.
    using Handler = std::function<bool(Reply& reply, const std::string& request)>;

    explicit RawServer(Handler handler, int port = 0);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    std::vector<std::string> Requests() const;

    // Answers every request with these bytes, after a pause if one is given, and closes.
    static Handler Answer(std::string response, int delayMs = 0);
    // Answers with what `answer` makes of the request; an empty answer: silence.
    static Handler Answers(std::function<std::string(const std::string& request)> answer);

private:
    void Serve();

    Handler m_handler;
    int m_port = 0;
    TestSocket m_listener = kNoSocket;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<TestSocket> m_held;
    std::thread m_thread;
};

// An HTTP/1.0 answer: the status line's rest (and more head lines after CR LF), a
// Content-Length unless told not to, and the body.
std::string HttpAnswer(const std::string& head, const std::string& body, bool bLength = true);

// A port on 127.0.0.1 where a connection attempt hangs: a listener that never accepts, its queue
// filled. It lasts as long as the object.
class CHangingPort {
public:
    CHangingPort();
    ~CHangingPort();
    CHangingPort(const CHangingPort&) = delete;
    CHangingPort& operator=(const CHangingPort&) = delete;
    int Port() const { return m_port; }

private:
    int m_port = 0;
    TestSocket m_sockets[5] = {kNoSocket, kNoSocket, kNoSocket, kNoSocket, kNoSocket};
};
