#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Http.h"
#include "Status.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace fbx::shop::web {

struct ServerOptions {
    std::string address = "127.0.0.1";  // numeric IPv4 or IPv6 address
    int port = 8180;                    // 0: any free port (see port())
    std::string certPem, keyPem;        // both: HTTPS
    unsigned maxClients = 64;           // connections at once; more are refused
    unsigned idleSeconds = 30;          // a client silent this long is dropped
    std::size_t headerLimit = 8192;     // bytes of request headers
};

// An HTTP server (libmicrohttpd) that runs inside the caller's poll loop: it
// has no thread of its own, hands its one epoll descriptor (fd()) and the
// longest wait it allows (timeoutMs()) to the loop, and does what is ready
// when run() is called, without blocking. A client that is slow, idle or
// waiting for the next event costs no CPU: event streams and delayed answers
// are suspended until there is something to send.
class HttpServer {
public:
    explicit HttpServer(HttpHandler& handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    Status start(const ServerOptions& options);
    void stop();
    bool running() const { return m_daemon != nullptr; }
    int port() const { return m_port; }

    // The descriptor to wait on for reading; -1 when not running.
    int fd() const;
    // How long the loop may wait before calling run(), in ms from now;
    // -1: as long as it likes.
    std::int64_t timeoutMs(std::int64_t nowMs) const;
    // Accepts, reads, answers, times out; never blocks.
    void run(std::int64_t nowMs);

    // Sends text to every open event stream. A stream whose client does not
    // keep up has its unsent text replaced by this one.
    void publish(const std::string& text);
    std::size_t streamCount() const { return m_streams.size(); }
    std::size_t clientCount() const { return m_clients; }

    struct Exchange;
    struct Stream;
    struct Callbacks;

private:
    void resumeAll();

    HttpHandler& m_handler;
    MHD_Daemon* m_daemon = nullptr;
    ServerOptions m_options;
    int m_port = 0;
    std::size_t m_clients = 0;
    bool m_kick = false;  // a connection was resumed: run soon
    std::int64_t m_now = 0;
    std::vector<Exchange*> m_delayed;
    std::vector<Stream*> m_streams;
};

}  // namespace fbx::shop::web
