#include "WebApi.h"

#include <unistd.h>
#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "JournalReader.h"
#include "Page.h"
#include "ProgramCompare.h"
#include "ProgramLibrary.h"
#include "ProgramNames.h"
#include "Token.h"

namespace fbx::shop::web {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self' data:; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";
constexpr const char* kCookie = "fbx_token";
// Programs compared on the web are read whole; larger ones are refused.
constexpr std::int64_t kMostCompared = 8 << 20;
// Blocks times edits a comparison may cost, so that it never holds up the
// lines for long.
constexpr std::int64_t kCompareBudget = 20'000'000;

std::string dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

HttpResponse reply(int status, const json& j) {
    HttpResponse r;
    r.status = status;
    r.body = dump(j) + "\n";
    return r;
}

HttpResponse problem(int status, const std::string& text) {
    return reply(status, {{"error", text}});
}

std::string settingsText(const MachineConfig& m) {
    std::string s = std::to_string(m.baud) + " " + std::to_string(m.dataBits) +
                    static_cast<char>(m.parity - 'a' + 'A') + std::to_string(m.stopBits) + " " +
                    m.handshake + " ";
    s += m.code == TapeCode::Iso ? "ISO" : m.code == TapeCode::Eia ? "EIA" : "auto";
    return s + (m.receive == ReceiveMode::Marks ? " marks" : " continuous");
}

const char* queueState(QueuedSend::State s) {
    switch (s) {
        case QueuedSend::State::Waiting:
            return "waiting";
        case QueuedSend::State::Taken:
            return "waiting for DC1";
        case QueuedSend::State::Sending:
            return "sending";
    }
    return "";
}

json queueJson(const QueuedSend& s) {
    return {{"id", s.id},
            {"program", s.program},
            {"queued", utcTime(s.queued)},
            {"state", queueState(s.state)}};
}

bool readProgram(const std::string& folder, const std::string& name, std::string& text,
                 std::string& why) {
    std::int64_t size = 0;
    const int fd = openProgram(folder, name, size, why);
    if (fd < 0) return false;
    FileBody file(fd, size);
    if (size > kMostCompared) {
        why = name + " is too large to compare here (ferobrixlan-cli compare takes it)";
        return false;
    }
    text.resize(static_cast<std::size_t>(size));
    const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return true;
}

// The library program a stored one came from: "O1234-2.nc.partial" was
// punched from O1234 (.nc, .txt, .tap or the plain name).
std::string libraryNameOf(const std::string& folder, std::string stored) {
    if (stored.size() > 8 && stored.ends_with(".partial")) stored.resize(stored.size() - 8);
    if (const std::size_t dot = stored.rfind('.'); dot != std::string::npos && dot > 0)
        stored.resize(dot);
    if (const std::size_t dash = stored.rfind('-');
        dash != std::string::npos && dash + 1 < stored.size() &&
        stored.find_first_not_of("0123456789", dash + 1) == std::string::npos)
        stored.resize(dash);
    const Requested found = findRequested(folder, stored);
    return found.kind == Requested::Kind::Found ? fs::path(found.path).filename().string()
                                                : std::string();
}

}  // namespace

struct WebApi::Route {
    enum class Kind {
        None,
        Page,
        Script,
        Style,
        Login,
        Logout,
        Metrics,
        Machines,
        Events,
        Journal,
        Compare,
        Programs,
        Program,
        Incoming,
        Stored,
        Queue,
        QueueItem
    } kind = Kind::None;
    std::string machine, file;
    std::string allow;  // the methods the route takes
    bool methodFits = false;
};

WebApi::WebApi(ShopAccess& shop, QueueStore& queue, Journal& journal, TransferTally& tally,
               const Clock& clock)
    : m_shop(shop), m_queue(queue), m_journal(journal), m_tally(tally), m_clock(clock) {}

WebApi::Route WebApi::match(const HttpRequest& request) const {
    using K = Route::Kind;
    Route route;
    std::vector<std::string> parts;
    std::string_view path = request.path;
    if (path.empty() || path[0] != '/') return route;
    path.remove_prefix(1);
    while (!path.empty() || parts.empty()) {
        const std::size_t slash = path.find('/');
        parts.push_back(percentDecode(path.substr(0, slash)));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
        if (path.empty()) parts.emplace_back();
    }
    auto is = [&](std::initializer_list<const char*> want) {
        if (parts.size() != want.size()) return false;
        std::size_t i = 0;
        for (const char* w : want) {
            if (*w && parts[i] != w) return false;
            ++i;
        }
        return true;
    };
    auto take = [&](K kind, const char* allow) {
        route.kind = kind;
        route.allow = allow;
    };
    const bool root = parts.size() == 1 && parts[0].empty();
    if (root || is({"journal"}) || is({"library"}) || is({"compare"}))
        take(K::Page, "GET");
    else if (is({"page.js"}))
        take(K::Script, "GET");
    else if (is({"page.css"}))
        take(K::Style, "GET");
    else if (is({"login"}))
        take(K::Login, "POST");
    else if (is({"logout"}))
        take(K::Logout, "POST");
    else if (is({"metrics"}))
        take(K::Metrics, "GET");
    else if (is({"api", "v1", "machines"}))
        take(K::Machines, "GET");
    else if (is({"api", "v1", "events"}))
        take(K::Events, "GET");
    else if (is({"api", "v1", "journal"}))
        take(K::Journal, "GET");
    else if (is({"api", "v1", "compare"}))
        take(K::Compare, "GET");
    else if (is({"api", "v1", "machines", "", "programs"}))
        take(K::Programs, "GET");
    else if (is({"api", "v1", "machines", "", "programs", ""}))
        take(K::Program, "GET, PUT, DELETE");
    else if (is({"api", "v1", "machines", "", "incoming"}))
        take(K::Incoming, "GET");
    else if (is({"api", "v1", "machines", "", "incoming", ""}))
        take(K::Stored, "GET");
    else if (is({"api", "v1", "machines", "", "queue"}))
        take(K::Queue, "GET, POST");
    else if (is({"api", "v1", "machines", "", "queue", ""}))
        take(K::QueueItem, "DELETE");
    if (route.kind == K::None) return route;
    if (parts.size() >= 4) route.machine = parts[3];
    if (parts.size() >= 6) route.file = parts[5];
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    std::string_view allowed = route.allow;
    while (!allowed.empty() && !route.methodFits) {
        const std::size_t comma = allowed.find(", ");
        route.methodFits = allowed.substr(0, comma) == method;
        allowed = comma == std::string_view::npos ? std::string_view() : allowed.substr(comma + 2);
    }
    return route;
}

bool WebApi::tokenGiven(const HttpRequest& request) const {
    const std::string authorization = request.header("authorization");
    if (!authorization.empty()) {
        std::string scheme = authorization.substr(0, 7);
        for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return scheme == "bearer " && sameToken(authorization.substr(7), m_config.token);
    }
    const std::string cookieHeader = request.header("cookie");
    std::string_view cookies = cookieHeader;
    while (!cookies.empty()) {
        const std::size_t semicolon = cookies.find(';');
        std::string_view item = cookies.substr(0, semicolon);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        const std::string prefix = std::string(kCookie) + "=";
        if (item.substr(0, prefix.size()) == prefix)
            return sameToken(item.substr(prefix.size()), m_config.token);
        cookies = semicolon == std::string_view::npos ? std::string_view()
                                                      : cookies.substr(semicolon + 1);
    }
    return false;
}

std::optional<MachineSnapshot> WebApi::machine(const std::string& name) const {
    for (MachineSnapshot& m : m_shop.machines()) {
        if (m.config.name == name && m.started && !m.config.folder.empty()) return std::move(m);
    }
    return std::nullopt;
}

std::optional<HttpResponse> WebApi::begin(const HttpRequest& request,
                                          std::unique_ptr<BodySink>& body) {
    using K = Route::Kind;
    const Route route = match(request);
    if (route.kind == K::None) return problem(404, "not found");
    if (!route.methodFits) {
        HttpResponse r = problem(405, "method not allowed");
        r.headers.emplace_back("Allow", route.allow);
        return r;
    }
    const bool change =
        request.method == "PUT" || request.method == "POST" || request.method == "DELETE";
    const bool open = route.kind == K::Page || route.kind == K::Script || route.kind == K::Style ||
                      route.kind == K::Login || route.kind == K::Logout;
    if (!open && (change || !m_config.openView) && !tokenGiven(request)) {
        HttpResponse r = problem(401, "unauthorized");
        r.headers.emplace_back("WWW-Authenticate", "Bearer");
        return r;
    }
    if (change && request.header("x-requested-by") != "ferobrixlan")
        return problem(403, "a change needs the header X-Requested-By: ferobrixlan");

    if (route.kind == K::Program && request.method == "PUT") {
        std::optional<MachineSnapshot> m = machine(route.machine);
        if (!m) return problem(404, "no such machine");
        if (std::string why = uploadNameProblem(route.file); !why.empty()) return problem(400, why);
        if (request.contentLength && *request.contentLength > kMostUpload)
            return problem(413, "a program may have at most 64 MB");
        auto upload = std::make_unique<ProgramUpload>(m->config.folder, route.file, kMostUpload);
        if (Status st = upload->open(); !st.isOk())
            return problem(st.code() == Status::Code::Refused ? 400 : 500, st.message());
        body = std::move(upload);
        return std::nullopt;
    }
    if ((route.kind == K::Queue && request.method == "POST") || route.kind == K::Login) {
        if (request.contentLength && *request.contentLength > kMostJsonBody)
            return problem(413, "the request is too large");
        body = std::make_unique<TextBody>(kMostJsonBody);
        return std::nullopt;
    }
    return serve(route, request);
}

HttpResponse WebApi::finish(const HttpRequest& request, std::unique_ptr<BodySink> body) {
    using K = Route::Kind;
    const Route route = match(request);
    if (route.kind == K::Program) {
        auto* upload = dynamic_cast<ProgramUpload*>(body.get());
        if (!upload) return problem(500, "no upload");
        if (upload->tooLarge()) return problem(413, "a program may have at most 64 MB");
        if (!upload->failure().isOk()) return problem(500, upload->failure().message());
        if (upload->size() == 0) return problem(400, "the program is empty");
        bool replaced = false;
        if (Status st = upload->commit(replaced); !st.isOk())
            return problem(st.code() == Status::Code::Refused ? 400 : 500, st.message());
        journalWeb(route.machine, "uploaded", route.file,
                   static_cast<std::int64_t>(upload->size()));
        json answer = {{"name", route.file}, {"size", upload->size()}};
        answer["previous"] = replaced ? json(previousVersionName(route.file)) : json();
        return reply(replaced ? 200 : 201, answer);
    }
    auto* text = dynamic_cast<TextBody*>(body.get());
    if (!text || text->tooLarge()) return problem(413, "the request is too large");
    if (route.kind == K::Login) return login(text->text());
    return queue(route, request, text->text());
}

HttpResponse WebApi::serve(const Route& route, const HttpRequest& request) {
    using K = Route::Kind;
    HttpResponse r;
    switch (route.kind) {
        case K::Page:
            r.type = "text/html; charset=utf-8";
            r.body = page().html;
            r.headers.emplace_back("Content-Security-Policy", kPagePolicy);
            return r;
        case K::Script:
            r.type = "text/javascript; charset=utf-8";
            r.body = page().script;
            return r;
        case K::Style:
            r.type = "text/css; charset=utf-8";
            r.body = page().style;
            return r;
        case K::Logout:
            r.status = 204;
            r.headers.emplace_back(
                "Set-Cookie",
                std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
            return r;
        case K::Metrics:
            r.type = "text/plain; version=0.0.4; charset=utf-8";
            r.body = m_tally.metrics(m_shop.machines(), m_queue, m_clients);
            return r;
        case K::Machines:
            r.body = machinesJson() + "\n";
            return r;
        case K::Events:
            r.type = "text/event-stream";
            r.eventStream = true;
            r.body = "retry: 2000\nevent: machines\ndata: " + machinesJson() + "\n\n";
            return r;
        case K::Journal:
            return journalPage(request);
        case K::Compare:
            return compare(request);
        default:
            break;
    }
    std::optional<MachineSnapshot> m = machine(route.machine);
    if (!m) return problem(404, "no such machine");
    const std::string& folder = route.kind == K::Incoming || route.kind == K::Stored
                                    ? m->config.incoming
                                    : m->config.folder;
    if (route.kind == K::Programs || route.kind == K::Incoming) {
        json list = json::array();
        for (const ProgramFile& p : listPrograms(folder))
            list.push_back({{"name", p.name}, {"size", p.size}, {"modified", utcTime(p.modified)}});
        return reply(200, list);
    }
    if ((route.kind == K::Program || route.kind == K::Stored) && request.method != "DELETE") {
        std::string why;
        std::int64_t size = 0;
        const int fd = openProgram(folder, route.file, size, why);
        if (fd < 0) return problem(why == "not found" ? 404 : 400, why);
        r.type = "application/octet-stream";
        r.file = std::make_unique<FileBody>(fd, size);
        r.headers.emplace_back("Content-Security-Policy", "sandbox");
        if (request.hasArg("download")) {
            std::string shown = route.file;
            for (char& c : shown) {
                if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ||
                    static_cast<unsigned char>(c) >= 0x7F)
                    c = '_';
            }
            r.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + shown + "\"");
        }
        return r;
    }
    if (route.kind == K::Program) {
        const Status st = deleteProgram(folder, route.file);
        if (st.code() == Status::Code::NothingWaiting) return problem(404, "not found");
        if (!st.isOk())
            return problem(st.code() == Status::Code::Refused ? 400 : 500, st.message());
        journalWeb(route.machine, "deleted", route.file);
        r.status = 204;
        r.body.clear();
        return r;
    }
    return queue(route, request, {});
}

HttpResponse WebApi::queue(const Route& route, const HttpRequest& request,
                           const std::string& body) {
    std::optional<MachineSnapshot> m = machine(route.machine);
    if (!m) return problem(404, "no such machine");
    if (route.kind == Route::Kind::QueueItem) {
        const std::string& id = route.file;
        if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos)
            return problem(404, "no such send in the queue");
        std::string program;
        for (const QueuedSend& s : m_queue.list(route.machine)) {
            if (std::to_string(s.id) == id) program = s.program;
        }
        switch (m_queue.withdraw(route.machine, std::stoull(id))) {
            case QueueStore::Withdrawn::Unknown:
                return problem(404, "no such send in the queue");
            case QueueStore::Withdrawn::AlreadySending:
                return problem(409, "the send is on its way and can no longer be withdrawn");
            case QueueStore::Withdrawn::Done:
                break;
        }
        journalWeb(route.machine, "withdrawn", program);
        HttpResponse r;
        r.status = 204;
        return r;
    }
    if (request.method != "POST") {
        json list = json::array();
        for (const QueuedSend& s : m_queue.list(route.machine)) list.push_back(queueJson(s));
        return reply(200, list);
    }
    const json doc = json::parse(body, nullptr, false);
    if (!doc.is_object() || !doc.contains("program") || !doc["program"].is_string())
        return problem(400, "send {\"program\": \"NAME\"}");
    const std::string program = doc["program"].get<std::string>();
    std::string why;
    std::int64_t size = 0;
    const int fd = openProgram(m->config.folder, program, size, why);
    if (fd < 0) return problem(why == "not found" ? 404 : 400, why);
    ::close(fd);
    QueuedSend added;
    if (Status st = m_queue.add(route.machine, program, added); !st.isOk())
        return problem(500, st.message());
    journalWeb(route.machine, "queued", program);
    return reply(201, queueJson(added));
}

HttpResponse WebApi::journalPage(const HttpRequest& request) const {
    JournalFilter filter{request.arg("machine"), request.arg("direction"), request.arg("outcome"),
                         request.arg("program")};
    auto number = [&](const char* name, std::int64_t fallback) {
        const std::string text = request.arg(name);
        if (text.empty() || text.size() > 15 ||
            text.find_first_not_of("0123456789") != std::string::npos)
            return fallback;
        return static_cast<std::int64_t>(std::stoll(text));
    };
    const std::int64_t limit = std::clamp<std::int64_t>(number("limit", 50), 1, 500);
    // A page reads at most 2 MB, so that a filter that matches little never
    // holds the lines up for long; the page then says where to go on.
    const JournalPage page = readJournalPage(m_journal.path(), filter, number("before", -1),
                                             static_cast<std::size_t>(limit), 2 << 20);
    const std::vector<MachineSnapshot> machines = m_shop.machines();
    json records = json::array();
    for (json record : page.records) {
        // A file that lies in its machine's folders is offered to open.
        const std::string file = record.value("file", "");
        const fs::path where = fs::path(file).parent_path();
        for (const MachineSnapshot& m : machines) {
            if (m.config.name != record.value("machine", "") || file.empty()) continue;
            if (where == fs::path(m.config.incoming))
                record["stored"] = fs::path(file).filename().string();
            else if (where == fs::path(m.config.folder))
                record["program"] = fs::path(file).filename().string();
        }
        records.push_back(std::move(record));
    }
    return reply(200,
                 {{"records", records}, {"before", page.before < 0 ? json() : json(page.before)}});
}

HttpResponse WebApi::compare(const HttpRequest& request) const {
    std::optional<MachineSnapshot> m = machine(request.arg("machine"));
    if (!m) return problem(404, "no such machine");
    const std::string received = request.arg("received"), other = request.arg("other");
    if (received.empty() == other.empty())
        return problem(400, "name one of received (a stored program) or other (a library program)");
    std::string program = request.arg("program");
    if (program.empty() && !received.empty()) program = libraryNameOf(m->config.folder, received);
    if (program.empty()) return problem(404, "no library program of that name");
    std::string a, b, why;
    if (!readProgram(m->config.folder, program, a, why) ||
        !readProgram(received.empty() ? m->config.folder : m->config.incoming,
                     received.empty() ? other : received, b, why))
        return problem(why == "not found" ? 404 : 400, why);
    const std::int64_t blocks = static_cast<std::int64_t>((a.size() + b.size()) / 16 + 1);
    const editor::ProgramComparison result = editor::ComparePrograms(
        a, b, std::clamp<std::int64_t>(kCompareBudget / blocks, 16, editor::kMaxEdits));
    json changes = json::array();
    auto lines = [](const std::vector<editor::NumberedLine>& list) {
        json out = json::array();
        for (const editor::NumberedLine& l : list)
            out.push_back({{"line", l.number}, {"text", l.text}});
        return out;
    };
    for (const editor::ChangedBlock& c : result.changes)
        changes.push_back({{"atA", c.atA},
                           {"atB", c.atB},
                           {"removed", lines(c.removed)},
                           {"added", lines(c.added)}});
    return reply(200, {{"a", program},
                       {"b", received.empty() ? other : received},
                       {"same", result.same()},
                       {"first", editor::DescribeFirstChange(result)},
                       {"changes", changes}});
}

HttpResponse WebApi::login(const std::string& body) {
    std::string given;
    for (const auto& [key, value] : parseForm(body)) {
        if (key == "token") given = value;
    }
    const std::int64_t now = m_clock.nowMs();
    // Failures are forgotten a quarter of an hour after the last one.
    if (now - m_lastLoginFailureMs > 15 * 60 * 1000) m_loginFailures = 0;
    if (sameToken(given, m_config.token)) {
        m_loginFailures = 0;
        HttpResponse r;
        r.status = 204;
        r.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + m_config.token +
                                                 "; Path=/; HttpOnly; SameSite=Strict" +
                                                 (m_config.certFile.empty() ? "" : "; Secure"));
        return r;
    }
    m_lastLoginFailureMs = now;
    ++m_loginFailures;
    HttpResponse r = problem(401, "unauthorized");
    r.delayMs =
        std::min<std::int64_t>(kMostLoginDelayMs, 250LL << std::min(m_loginFailures - 1, 5));
    return r;
}

void WebApi::journalWeb(const std::string& machine, const std::string& outcome,
                        const std::string& file, std::int64_t bytes) {
    JournalRecord r;
    r.time = std::time(nullptr);
    r.machine = machine;
    r.direction = "web";
    r.outcome = outcome;
    r.file = file;
    r.bytes = bytes;
    m_journal.append(r);
}

std::string WebApi::machinesJson() const {
    const std::time_t now = std::time(nullptr);
    json board = json::array();
    for (const MachineSnapshot& m : m_shop.machines()) {
        json tile = {{"name", m.config.name}, {"port", m.config.port},      {"started", m.started},
                     {"state", m.state},      {"kind", stateKind(m.state)}, {"done", m.done},
                     {"total", m.total}};
        tile["settings"] = m.started ? settingsText(m.config) : std::string();
        json queued = json::array();
        for (const QueuedSend& s : m_queue.list(m.config.name)) queued.push_back(queueJson(s));
        tile["queue"] = queued;
        const TransferTally::Day day = m_tally.today(m.config.name, now);
        tile["today"] = {{"received", day.received}, {"sent", day.sent}, {"failed", day.failed}};
        if (const JournalRecord* last = m_tally.last(m.config.name))
            tile["last"] = {{"time", utcTime(last->time)},
                            {"direction", last->direction},
                            {"file", fs::path(last->file).filename().string()},
                            {"outcome", last->outcome},
                            {"bytes", last->bytes}};
        else
            tile["last"] = nullptr;
        board.push_back(std::move(tile));
    }
    return dump(board);
}

}  // namespace fbx::shop::web
