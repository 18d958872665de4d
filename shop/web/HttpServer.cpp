#include "HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <algorithm>
#include <cstring>

namespace fbx::shop::web {

namespace {

// Bytes a request body may bring in all, the refused rest included; past
// this the connection is closed.
constexpr std::uint64_t kMostBodyBytes = (64u << 20) + (1u << 20);
// A client that does not read its events has at most this much waiting.
constexpr std::size_t kMostUnsent = 64 * 1024;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

struct Collected {
    HttpRequest* request;
    std::size_t headerBytes = 0;
};

MHD_Result collectHeader(void* cls, MHD_ValueKind, const char* key, std::size_t keySize,
                         const char* value, std::size_t valueSize) {
    auto* c = static_cast<Collected*>(cls);
    c->headerBytes += keySize + valueSize + 4;
    c->request->headers.emplace_back(lower(std::string_view(key, keySize)),
                                     std::string(value ? value : "", value ? valueSize : 0));
    return MHD_YES;
}

MHD_Result collectArgument(void* cls, MHD_ValueKind, const char* key, std::size_t keySize,
                           const char* value, std::size_t valueSize) {
    auto* c = static_cast<Collected*>(cls);
    c->request->query.emplace_back(
        percentDecode(std::string_view(key, keySize), true),
        value ? percentDecode(std::string_view(value, valueSize), true) : std::string());
    return MHD_YES;
}

}  // namespace

struct HttpServer::Exchange {
    HttpRequest request;
    std::unique_ptr<BodySink> body;
    std::optional<HttpResponse> response;
    MHD_Connection* connection = nullptr;
    std::uint64_t received = 0;
    bool waited = false;  // a delayed answer has had its pause
    bool answered = false;
    std::int64_t resumeAt = 0;
};

struct HttpServer::Stream {
    HttpServer* server = nullptr;
    MHD_Connection* connection = nullptr;
    std::string unsent;
    bool suspended = false;
    bool ending = false;
};

struct HttpServer::Callbacks {
    static MHD_Result request(void* cls, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char* uploadData,
                              std::size_t* uploadSize, void** context) {
        return handle(*static_cast<HttpServer*>(cls), connection, url, method, uploadData,
                      uploadSize, context);
    }

    static void completed(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
        auto* server = static_cast<HttpServer*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange) return;
        std::erase(server->m_delayed, exchange);
        delete exchange;
        *context = nullptr;
    }

    static void connection(void* cls, MHD_Connection*, void**,
                           MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<HttpServer*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            ++server->m_clients;
        else if (server->m_clients > 0)
            --server->m_clients;
    }

    // The path and query are decoded by the routes, so that an escaped "/"
    // or NUL is seen in the name it is part of.
    static std::size_t keepEscapes(void*, MHD_Connection*, char* text) { return std::strlen(text); }

    static ssize_t readStream(void* cls, std::uint64_t, char* buffer, std::size_t most) {
        auto* stream = static_cast<Stream*>(cls);
        if (stream->ending) return MHD_CONTENT_READER_END_OF_STREAM;
        if (stream->unsent.empty()) {
            // Nothing to say: the connection sleeps until publish() wakes it.
            MHD_suspend_connection(stream->connection);
            stream->suspended = true;
            return 0;
        }
        const std::size_t n = std::min(most, stream->unsent.size());
        std::memcpy(buffer, stream->unsent.data(), n);
        stream->unsent.erase(0, n);
        return static_cast<ssize_t>(n);
    }

    static void freeStream(void* cls) {
        auto* stream = static_cast<Stream*>(cls);
        if (stream->server) std::erase(stream->server->m_streams, stream);
        delete stream;
    }

    static MHD_Result answer(HttpServer& server, MHD_Connection* connection, Exchange& exchange) {
        HttpResponse& r = *exchange.response;
        if (r.delayMs > 0 && !exchange.waited) {
            exchange.waited = true;
            exchange.resumeAt = server.m_now + r.delayMs;
            exchange.connection = connection;
            MHD_suspend_connection(connection);
            server.m_delayed.push_back(&exchange);
            return MHD_YES;
        }
        exchange.answered = true;
        MHD_Response* response = nullptr;
        if (r.file) {
            response =
                MHD_create_response_from_fd64(static_cast<std::uint64_t>(r.file->size), r.file->fd);
            if (response) r.file->fd = -1;  // the response closes it
        } else if (r.eventStream) {
            auto* stream = new Stream{&server, connection, r.body, false, false};
            response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, readStream, stream,
                                                         freeStream);
            if (response)
                server.m_streams.push_back(stream);
            else
                delete stream;
        } else {
            response = MHD_create_response_from_buffer(r.body.size(), r.body.data(),
                                                       MHD_RESPMEM_MUST_COPY);
        }
        if (!response) return MHD_NO;
        MHD_add_response_header(response, "Content-Type", r.type.c_str());
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
        MHD_add_response_header(response, "X-Frame-Options", "DENY");
        MHD_add_response_header(response, "Cache-Control", "no-store");
        for (const auto& [name, value] : r.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(r.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    static MHD_Result handle(HttpServer& server, MHD_Connection* connection, const char* url,
                             const char* method, const char* uploadData, std::size_t* uploadSize,
                             void** context) {
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange) {
            exchange = new Exchange;
            *context = exchange;
            exchange->connection = connection;
            HttpRequest& request = exchange->request;
            request.method = method;
            request.path = url;
            Collected collected{&request};
            MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collectHeader, &collected);
            const std::size_t headerBytes = collected.headerBytes + request.path.size();
            MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, collectArgument,
                                        &collected);
            const std::string length = request.header("content-length");
            if (!length.empty() && length.size() < 19 &&
                length.find_first_not_of("0123456789") == std::string::npos)
                request.contentLength = std::stoull(length);
            if (headerBytes > server.m_options.headerLimit) {
                HttpResponse r;
                r.status = 431;
                r.type = "text/plain";
                r.body = "request headers too large\n";
                exchange->response = std::move(r);
            } else if (std::optional<HttpResponse> r =
                           server.m_handler.begin(request, exchange->body)) {
                exchange->response = std::move(*r);
            } else if (!exchange->body) {
                HttpResponse failed;
                failed.status = 500;
                exchange->response = std::move(failed);
            }
            if (exchange->response) return answer(server, connection, *exchange);
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            exchange->received += *uploadSize;
            if (exchange->received > kMostBodyBytes) return MHD_NO;
            if (!exchange->response &&
                !exchange->body->take(std::string_view(uploadData, *uploadSize)))
                exchange->response =
                    server.m_handler.finish(exchange->request, std::move(exchange->body));
            *uploadSize = 0;  // a refused rest is read and dropped, then answered
            return MHD_YES;
        }
        if (exchange->answered) return MHD_YES;
        if (!exchange->response)
            exchange->response =
                server.m_handler.finish(exchange->request, std::move(exchange->body));
        return answer(server, connection, *exchange);
    }
};

HttpServer::HttpServer(HttpHandler& handler) : m_handler(handler) {}

HttpServer::~HttpServer() {
    stop();
}

Status HttpServer::start(const ServerOptions& options) {
    stop();
    m_options = options;
    sockaddr_storage address{};
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (options.address.find(':') != std::string::npos) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<std::uint16_t>(options.port));
        if (inet_pton(AF_INET6, options.address.c_str(), &a6->sin6_addr) != 1)
            return Status::refused(options.address + " is not an IP address");
        flags |= MHD_USE_IPv6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(static_cast<std::uint16_t>(options.port));
        if (inet_pton(AF_INET, options.address.c_str(), &a4->sin_addr) != 1)
            return Status::refused(options.address + " is not an IP address");
    }
    const bool tls = !m_options.certPem.empty() && !m_options.keyPem.empty();
    if (tls) flags |= MHD_USE_TLS;
    MHD_OptionItem tlsOptions[] = {
        {MHD_OPTION_HTTPS_MEM_KEY, 0, tls ? m_options.keyPem.data() : nullptr},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, tls ? m_options.certPem.data() : nullptr},
        {MHD_OPTION_END, 0, nullptr}};
    if (!tls) tlsOptions[0] = {MHD_OPTION_END, 0, nullptr};
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::request, this, MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(options.maxClients),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(options.idleSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(options.headerLimit * 4),
        MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this, MHD_OPTION_NOTIFY_CONNECTION,
        &Callbacks::connection, this, MHD_OPTION_UNESCAPE_CALLBACK, &Callbacks::keepEscapes, this,
        MHD_OPTION_ARRAY, tlsOptions, MHD_OPTION_END);
    if (!m_daemon) {
        const int err = errno;
        return Status::refused("cannot listen on " + options.address + ":" +
                               std::to_string(options.port) +
                               (err ? ": " + std::string(std::strerror(err)) : std::string()) +
                               (tls ? " (or the certificate and key do not fit)" : ""));
    }
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = bound ? bound->port : options.port;
    return Status::ok();
}

void HttpServer::resumeAll() {
    for (Stream* s : m_streams) {
        s->ending = true;
        if (s->suspended) {
            s->suspended = false;
            MHD_resume_connection(s->connection);
        }
    }
    for (Exchange* e : m_delayed) MHD_resume_connection(e->connection);
    m_delayed.clear();
}

void HttpServer::stop() {
    if (!m_daemon) return;
    // A suspended connection must be resumed before the daemon stops.
    resumeAll();
    MHD_run(m_daemon);
    for (Stream* s : m_streams) s->server = nullptr;
    m_streams.clear();
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    m_clients = 0;
}

int HttpServer::fd() const {
    if (!m_daemon) return -1;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    return info ? info->epoll_fd : -1;
}

std::int64_t HttpServer::timeoutMs(std::int64_t nowMs) const {
    if (!m_daemon) return -1;
    if (m_kick) return 0;
    std::int64_t wait = -1;
    MHD_UNSIGNED_LONG_LONG mhd = 0;
    if (MHD_get_timeout(m_daemon, &mhd) == MHD_YES) wait = static_cast<std::int64_t>(mhd);
    for (const Exchange* e : m_delayed) {
        const std::int64_t due = std::max<std::int64_t>(0, e->resumeAt - nowMs);
        wait = wait < 0 ? due : std::min(wait, due);
    }
    return wait;
}

void HttpServer::run(std::int64_t nowMs) {
    if (!m_daemon) return;
    m_now = nowMs;
    m_kick = false;
    for (auto it = m_delayed.begin(); it != m_delayed.end();) {
        if ((*it)->resumeAt <= nowMs) {
            MHD_resume_connection((*it)->connection);
            it = m_delayed.erase(it);
        } else {
            ++it;
        }
    }
    MHD_run(m_daemon);
}

void HttpServer::publish(const std::string& text) {
    for (Stream* s : m_streams) {
        // A blank line ends whatever part of an older event went out.
        if (s->unsent.size() > kMostUnsent)
            s->unsent = "\n\n" + text;
        else
            s->unsent += text;
        if (s->suspended) {
            s->suspended = false;
            MHD_resume_connection(s->connection);
            m_kick = true;
        }
    }
}

}  // namespace fbx::shop::web
