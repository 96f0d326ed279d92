#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace varnholt {

struct HttpResponse {
    int status = 200;
    std::string type = "text/plain; charset=utf-8";
    std::string body;
};

struct HttpLimits {
    size_t headerBytes = 8 * 1024;  // the request line and headers together
    size_t connections = 64;
    std::chrono::milliseconds idle{10000};
};

// A small read-only HTTP/1.1 server on one thread: GET and HEAD only, every
// socket non-blocking and close-on-exec, a request over the header limit
// refused, idle connections closed, and when every connection is taken the
// oldest idle one closed for the new one, so slow clients never hold it.
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const std::string& path)>;
    HttpServer(HttpLimits limits, Handler handler)
        : limits_(limits), handler_(std::move(handler)) {}
    ~HttpServer();
    // ADDR:PORT, [ADDR]:PORT for IPv6; port 0 takes a free one. False with
    // a sentence.
    bool Listen(const std::string& where, std::string& why);
    int Port() const { return port_; }
    // Serves until stop becomes readable (a pipe the signal handler writes
    // to); tick runs at least every 250 ms.
    void Serve(int stopFd, const std::function<void()>& tick);

private:
    struct Connection {
        int fd = -1;
        std::string in, out;
        std::chrono::steady_clock::time_point last;
        bool closeAfter = false;
    };
    void Accept();
    bool Read(Connection& c);
    bool Write(Connection& c);
    void Answer(Connection& c);

    HttpLimits limits_;
    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::vector<Connection> connections_;
};

}  // namespace varnholt
