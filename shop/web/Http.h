#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fbx::shop::web {

// One HTTP request as the routes see it. Everything in it comes from the
// network and is untrusted.
struct HttpRequest {
    std::string method;
    std::string path;  // as sent: percent escapes kept, without the query
    std::vector<std::pair<std::string, std::string>> query;    // decoded
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
    std::optional<std::uint64_t> contentLength;

    // The first value of the query argument or header, or an empty string.
    std::string arg(std::string_view name) const;
    std::string header(std::string_view name) const;
    bool hasArg(std::string_view name) const;
};

// A file sent as an answer: its descriptor is owned and closed with it.
struct FileBody {
    int fd = -1;
    std::int64_t size = 0;
    FileBody(int fd, std::int64_t size) : fd(fd), size(size) {}
    ~FileBody();
    FileBody(const FileBody&) = delete;
    FileBody& operator=(const FileBody&) = delete;
};

struct HttpResponse {
    int status = 200;
    std::string type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::unique_ptr<FileBody> file;  // the answer's bytes instead of body
    // An event stream (Server-Sent Events): body is its first event, the
    // later ones come from HttpServer::publish().
    bool eventStream = false;
    std::int64_t delayMs = 0;  // the answer goes out after this pause
};

// Where a request's body goes while it arrives.
class BodySink {
public:
    virtual ~BodySink() = default;
    // Takes the next piece; false refuses the rest (too large, a write
    // failed), and the request is answered at once.
    virtual bool take(std::string_view bytes) = 0;
};

// The body of a small request, kept in memory up to a limit.
class TextBody : public BodySink {
public:
    explicit TextBody(std::size_t limit) : m_limit(limit) {}
    bool take(std::string_view bytes) override;
    const std::string& text() const { return m_text; }
    bool tooLarge() const { return m_tooLarge; }

private:
    std::size_t m_limit;
    std::string m_text;
    bool m_tooLarge = false;
};

// What answers requests. Runs on the server's caller's thread, inside
// HttpServer::run(); must never block.
class HttpHandler {
public:
    virtual ~HttpHandler() = default;
    // The request's head is in. Returns the answer, or none after setting
    // body to where the request's body is to go; finish() answers once the
    // body is in (or was refused).
    virtual std::optional<HttpResponse> begin(const HttpRequest& request,
                                              std::unique_ptr<BodySink>& body) = 0;
    virtual HttpResponse finish(const HttpRequest& request, std::unique_ptr<BodySink> body) = 0;
};

// Percent escapes (and, in a query, "+" for a blank) decoded. Invalid escapes
// stay as written.
std::string percentDecode(std::string_view text, bool plusIsBlank = false);

// The pairs of "a=1&b=2" (a query or a form body), decoded.
std::vector<std::pair<std::string, std::string>> parseForm(std::string_view text);

}  // namespace fbx::shop::web
