#include "board/http_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "monitoring/error_text.h"

namespace varnholt {
namespace {

using Clock = std::chrono::steady_clock;

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Error";
    }
}

std::string Head(int status, const std::string& type, size_t length, bool close) {
    return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
           "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(length) +
           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
           "Content-Security-Policy: default-src 'self'; script-src 'unsafe-inline' 'self'; "
           "style-src 'unsafe-inline'; img-src 'self'\r\n" +
           (status == 405 ? "Allow: GET, HEAD\r\n" : "") + (close ? "Connection: close\r\n" : "") +
           "\r\n";
}

}  // namespace

HttpServer::~HttpServer() {
    for (Connection& c : connections_) ::close(c.fd);
    if (listener_ >= 0) ::close(listener_);
}

bool HttpServer::Listen(const std::string& where, std::string& why) {
    const size_t colon = where.rfind(':');
    std::string host = colon == std::string::npos ? "" : where.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : where.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        port.size() > 5 || std::stoi(port) > 65535) {
        why = "--listen '" + where + "' is not ADDRESS:PORT; give one such as 127.0.0.1:8080.";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        why = "--listen '" + where +
              "' is not an address of this machine; give a numeric one "
              "such as 127.0.0.1:8080 or [::1]:8080.";
        return false;
    }
    listener_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (listener_ >= 0) ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool ok = listener_ >= 0 && ::bind(listener_, found->ai_addr, found->ai_addrlen) == 0 &&
                    ::listen(listener_, 128) == 0;
    const int error = errno;
    freeaddrinfo(found);
    if (!ok) {
        why = "cannot listen on " + where + " (" + ErrorText(error) +
              "); give another --listen address or port.";
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return true;
}

void HttpServer::Accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (connections_.size() >= limits_.connections) {
            // The oldest idle connection makes room: one that sends nothing
            // must not keep a browser out.
            auto oldest = std::min_element(connections_.begin(), connections_.end(),
                                           [](const Connection& a, const Connection& b) {
                                               return std::make_pair(!a.out.empty(), a.last) <
                                                      std::make_pair(!b.out.empty(), b.last);
                                           });
            ::close(oldest->fd);
            connections_.erase(oldest);
        }
        connections_.push_back({fd, {}, {}, Clock::now(), false});
    }
}

// False when the connection is to be closed.
bool HttpServer::Read(Connection& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.last = Clock::now();
        c.in.append(buffer, static_cast<size_t>(n));
        if (c.closeAfter) c.in.clear();
        while (!c.closeAfter && c.out.empty()) {
            const size_t end = c.in.find("\r\n\r\n");
            if ((end == std::string::npos ? c.in.size() : end) > limits_.headerBytes) {
                const std::string body = "The request's line and headers exceed 8 KiB.\n";
                c.out = Head(431, "text/plain; charset=utf-8", body.size(), true) + body;
                c.closeAfter = true;
                c.in.clear();
                break;
            }
            if (end == std::string::npos) break;
            Answer(c);
        }
    }
}

void HttpServer::Answer(Connection& c) {
    const size_t end = c.in.find("\r\n\r\n");
    const std::string head = c.in.substr(0, end);
    c.in.erase(0, end + 4);
    const size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    std::string lower = lineEnd == std::string::npos ? "" : head.substr(lineEnd);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    HttpResponse response;
    bool headOnly = false;
    if (sp1 == std::string::npos || sp2 == sp1 || line.compare(sp2 + 1, 5, "HTTP/") != 0) {
        response = {400, "text/plain; charset=utf-8", "Not an HTTP request.\n"};
        c.closeAfter = true;
    } else {
        const std::string method = line.substr(0, sp1);
        std::string path = line.substr(sp1 + 1, sp2 - sp1 - 1);
        path = path.substr(0, path.find('?'));
        headOnly = method == "HEAD";
        if (method != "GET" && !headOnly) {
            response = {405, "text/plain; charset=utf-8", "Only GET and HEAD are served here.\n"};
            // A body we do not read may follow.
            c.closeAfter = true;
        } else {
            response = handler_(path);
        }
        if (lower.find("\r\nconnection: close") != std::string::npos ||
            line.compare(sp2 + 1, 8, "HTTP/1.0") == 0) {
            c.closeAfter = true;
        }
    }
    c.out = Head(response.status, response.type, response.body.size(), c.closeAfter) +
            (headOnly ? std::string() : response.body);
}

bool HttpServer::Write(Connection& c) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.out.erase(0, static_cast<size_t>(n));
        c.last = Clock::now();
    }
    return !c.closeAfter;
}

void HttpServer::Serve(int stopFd, const std::function<void()>& tick) {
    std::vector<pollfd> fds;
    auto lastTick = Clock::now();
    for (;;) {
        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        for (const Connection& c : connections_) {
            fds.push_back({c.fd, static_cast<short>(c.out.empty() ? POLLIN : POLLIN | POLLOUT), 0});
        }
        ::poll(fds.data(), fds.size(), 250);
        if (fds[0].revents) return;
        if (fds[1].revents & POLLIN) Accept();
        const auto now = Clock::now();
        std::vector<Connection> kept;
        kept.reserve(connections_.size());
        for (size_t i = 0; i < connections_.size(); ++i) {
            Connection& c = connections_[i];
            const short events =
                i + 2 < fds.size() && fds[i + 2].fd == c.fd ? fds[i + 2].revents : 0;
            bool keep = true;
            if (events & (POLLIN | POLLHUP | POLLERR)) keep = Read(c);
            if (keep && !c.out.empty()) keep = Write(c);
            if (keep && c.out.empty() && now - c.last > limits_.idle) keep = false;
            if (keep) {
                kept.push_back(std::move(c));
            } else {
                ::close(c.fd);
            }
        }
        connections_ = std::move(kept);
        if (now - lastTick >= std::chrono::milliseconds(250)) {
            lastTick = now;
            tick();
        }
    }
}

}  // namespace varnholt
