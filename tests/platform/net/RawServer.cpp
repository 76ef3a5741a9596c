// The raw test server over the system's sockets (TestSocket_*.cpp).
#include "platform/net/RawServer.h"

#include <chrono>
#include <stdexcept>

RawServer::RawServer(Handler handler, int port) : m_handler(std::move(handler)) {
    m_listener = ListenOnLoopback(port, &m_port);
    if (m_listener == kNoSocket) throw std::runtime_error("cannot listen on 127.0.0.1");
    m_thread = std::thread([this] { Serve(); });
}

RawServer::~RawServer() {
    m_bStop = true;
    StopListening(m_listener);
    m_thread.join();
    CloseListener(m_listener);
    for (const TestSocket held : m_held) CloseSocket(held);
}

std::string RawServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> RawServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void RawServer::Serve() {
    while (!m_bStop) {
        const TestSocket client = AcceptOn(m_listener);
        if (client == kNoSocket) return;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const long got = ReceiveFrom(client, buffer, sizeof buffer);
            if (got <= 0) break;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        Reply reply(client);
        if (m_handler(reply, request)) {
            CloseSocket(client);
        } else {
            std::lock_guard lock(m_mutex);
            m_held.push_back(client);
        }
    }
}

RawServer::Handler RawServer::Answer(std::string response, int delayMs) {
    return [response = std::move(response), delayMs](Reply& reply, const std::string&) {
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        reply.Send(response);
        return true;
    };
}

RawServer::Handler RawServer::Answers(std::function<std::string(const std::string&)> answer) {
    return [answer = std::move(answer)](Reply& reply, const std::string& request) {
        const std::string bytes = answer(request);
        return !bytes.empty() && (reply.Send(bytes), true);
    };
}

std::string HttpAnswer(const std::string& head, const std::string& body, bool bLength) {
    return "HTTP/1.0 " + head + "\r\n" +
           (bLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + "\r\n" +
           body;
}

CHangingPort::CHangingPort() {
    m_sockets[0] = ListenOnLoopback(0, &m_port, 0);
    // Once the queue is full, new connection attempts are dropped and connecting hangs.
    for (int i = 1; i < 5; ++i) m_sockets[i] = StartConnecting(m_port);
}

CHangingPort::~CHangingPort() {
    for (const TestSocket socket : m_sockets) CloseSocket(socket);
}
