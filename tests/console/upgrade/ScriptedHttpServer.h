#pragma once

// An HTTP peer on 127.0.0.1 that answers each path with exactly the bytes the
// test scripted, for the misbehaviours a real server will not show: bodies
// cut short, no Content-Length, stalls. One connection at a time on its own
// thread; unknown paths get 404.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tests/console/media/LoopbackSockets.h"

namespace upgradetest {

struct TReply {
    std::string strBytes;    // status line, headers and the body sent
    bool bStall = false;     // then keep the connection open without sending
};

inline TReply Answer(int status, const std::string& body, bool withLength = true) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
    if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return {head + "\r\n" + body, false};
}
// Announces `announced` bytes, sends `body`, then closes or stalls.
inline TReply Short(size_t announced, const std::string& body, bool stall) {
    return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) + "\r\n\r\n" + body, stall};
}

class TScriptedHttpServer {
public:
    TScriptedHttpServer() {
        m_fdListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = mediatest::LoopbackAddress(0);
        bind(m_fdListen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_fdListen, 8);
        socklen_t length = sizeof address;
        getsockname(m_fdListen, reinterpret_cast<sockaddr*>(&address), &length);
        m_nPort = ntohs(address.sin_port);
        pipe2(m_fdStop, O_CLOEXEC);
        m_thread = std::thread([this] { Run(); });
    }
    ~TScriptedHttpServer() {
        (void)!write(m_fdStop[1], "x", 1);
        m_thread.join();
        close(m_fdListen);
        close(m_fdStop[0]);
        close(m_fdStop[1]);
    }

    void Serve(const std::string& path, TReply reply) {
        std::lock_guard lock(m_mutex);
        m_replies[path] = std::move(reply);
    }
    std::string Url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(m_nPort) + path;
    }
    int Port() const { return m_nPort; }
    int Requests() const { return m_nRequests; }
    // Connections that have been sent a stalling reply and are held open.
    int Stalls() const { return m_nStalls; }

private:
    // Waits for fd to be readable; false when the server is stopping.
    bool WaitReadable(int fd) const {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_fdStop[0], POLLIN, 0}};
        while (poll(fds, 2, -1) < 0) {
        }
        return (fds[1].revents & POLLIN) == 0;
    }
    void Run() {
        while (WaitReadable(m_fdListen)) {
            const int fd = accept4(m_fdListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            Handle(fd);
            close(fd);
        }
    }
    void Handle(int fd) {
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            if (!WaitReadable(fd)) return;
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) return;
            request.append(buffer, static_cast<size_t>(got));
        }
        ++m_nRequests;
        const TReply reply = ReplyFor(request.substr(4, request.find(' ', 4) - 4));
        (void)!send(fd, reply.strBytes.data(), reply.strBytes.size(), MSG_NOSIGNAL);
        if (!reply.bStall) return;
        ++m_nStalls;
        // Held until the client gives up or the server stops.
        while (WaitReadable(fd) && read(fd, buffer, sizeof buffer) > 0) {
        }
    }
    TReply ReplyFor(const std::string& path) {
        std::lock_guard lock(m_mutex);
        const auto found = m_replies.find(path);
        return found != m_replies.end() ? found->second : Answer(404, "");
    }

    int m_fdListen = -1;
    int m_fdStop[2] = {-1, -1};
    int m_nPort = 0;
    std::atomic<int> m_nRequests{0};
    std::atomic<int> m_nStalls{0};
    std::mutex m_mutex;
    std::map<std::string, TReply> m_replies;
    std::thread m_thread;
};

}  // namespace upgradetest
