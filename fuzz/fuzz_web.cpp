// Feeds arbitrary requests to the web side's routes, as a browser or script
// on the shop's network could send them: the first line is the method, the
// second the path with its query, then header lines up to an empty line, and
// the rest is the body. Checks what must hold for any request:
//   - without the token, nothing but the page and the login is answered with
//     success, and no file is read, written or removed;
//   - with the token, a file that is answered lies inside its folder (links
//     resolved), and an upload that succeeds has a name that passes the
//     request-name checks and stays in the folder;
//   - a JSON answer is valid JSON; every status is one the routes give.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "ConfigFile.h"
#include "FuzzCheck.h"
#include "ProgramLibrary.h"
#include "ProgramNames.h"
#include "WebApi.h"

namespace {

constexpr const char* kFuzzTarget = "fuzz_web";
namespace fs = std::filesystem;
using namespace fbx::shop;
using namespace fbx::shop::web;

const std::string kToken = "0123456789abcdefghijklmnopqrstuvwxyzABCD";

struct Shop : ShopAccess {
    std::vector<MachineSnapshot> list;
    std::vector<MachineSnapshot> machines() const override { return list; }
    void queueChanged(const std::string&) override {}
};

struct World {
    std::string root;
    Shop shop;
    Journal journal;
    TransferTally tally;
    fbx::FakeClock clock;
    QueueStore queue;
    WebApi api;
    World(const std::string& dir)
        : root(dir),
          journal(dir + "/journal.jsonl"),
          queue(dir + "/queue"),
          api(shop, queue, journal, tally, clock) {
        fs::create_directories(dir + "/m1/nc/incoming");
        fbx::writeWholeFile(dir + "/m1/nc/O1.nc", "%\r\nO1\r\n%");
        fbx::writeWholeFile(dir + "/m1/nc/incoming/O1.nc", "%\r\nO1\r\nX1\r\n%");
        fbx::writeWholeFile(dir + "/secret.nc", "SECRET");
        std::error_code ec;
        fs::create_symlink(dir + "/secret.nc", dir + "/m1/nc/LINK.nc", ec);
        MachineSnapshot m;
        m.config.name = "m1";
        m.config.folder = fs::canonical(dir + "/m1/nc").string();
        m.config.incoming = m.config.folder + "/incoming";
        m.state = "listening";
        shop.list.push_back(m);
        WebConfig config;
        config.enabled = true;
        config.token = kToken;
        api.configure(config);
    }
};

World& world() {
    static World w(
        (fs::temp_directory_path() / ("fbx-fuzz-web-" + std::to_string(getpid()))).string());
    return w;
}

bool inside(const std::string& path, const std::string& folder) {
    std::error_code ec;
    const std::string real = fs::weakly_canonical(path, ec).string();
    return real.rfind(folder + "/", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = world();
    std::string input(reinterpret_cast<const char*>(data), size);
    auto line = [&]() {
        const std::size_t end = input.find('\n');
        std::string first = input.substr(0, end);
        input = end == std::string::npos ? std::string() : input.substr(end + 1);
        return first;
    };
    HttpRequest request;
    request.method = line();
    std::string target = line();
    const std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) request.query = parseForm(target.substr(question + 1));
    for (std::string header = line(); !header.empty(); header = line()) {
        const std::size_t colon = header.find(':');
        request.headers.emplace_back(header.substr(0, colon),
                                     colon == std::string::npos ? "" : header.substr(colon + 1));
    }
    const std::string& folder = w.shop.list[0].config.folder;
    const std::set<std::string> before = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(w.root))
            names.insert(e.path().string());
        return names;
    }();

    std::unique_ptr<BodySink> body;
    std::optional<HttpResponse> answer = w.api.begin(request, body);
    if (!answer) {
        CHECK(body);
        body->take(input);
        answer = w.api.finish(request, std::move(body));
    }
    static const std::set<int> statuses{200, 201, 204, 400, 401, 403, 404, 405, 409, 413, 500};
    CHECK(statuses.count(answer->status));
    bool authorized = false;
    for (const auto& [name, value] : request.headers)
        authorized = authorized ||
                     (name == "authorization" && value.size() > 7 && value.substr(7) == kToken) ||
                     (name == "cookie" && value.find("fbx_token=" + kToken) != std::string::npos);
    const bool page = request.path == "/" || request.path == "/journal" ||
                      request.path == "/library" || request.path == "/compare" ||
                      request.path == "/page.js" || request.path == "/page.css" ||
                      request.path == "/login" || request.path == "/logout";
    if (!authorized && !page) CHECK(answer->status >= 400);
    if (answer->file) {
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", answer->file->fd);
        CHECK(inside(fs::read_symlink(link).string(), folder));
    }
    if (answer->type == "application/json" && !answer->body.empty())
        CHECK(!nlohmann::json::parse(answer->body, nullptr, false).is_discarded());
    std::set<std::string> after;
    for (const auto& e : fs::recursive_directory_iterator(w.root)) after.insert(e.path().string());
    after.erase(w.root + "/journal.jsonl");
    after.erase(w.root + "/queue");
    for (const std::string& path : after) {
        if (before.count(path)) continue;
        // Something new: only an upload with the token and a good name makes it.
        CHECK(authorized && request.method == "PUT" && answer->status / 100 == 2);
        CHECK(inside(path, folder) &&
              uploadNameProblem(fs::path(path).filename().string()).empty());
        fs::remove(path);
    }
    for (const std::string& path : before) {
        if (after.count(path) || path == w.root + "/journal.jsonl" || path == w.root + "/queue")
            continue;
        // Something gone: only a delete with the token, of a program in the folder.
        CHECK(authorized && request.method == "DELETE" && answer->status == 204);
        CHECK(fs::path(path).parent_path() == folder);
        if (path == folder + "/O1.nc") fbx::writeWholeFile(path, "%\r\nO1\r\n%");
    }
    std::string secret;
    CHECK(fbx::readWholeFile(w.root + "/secret.nc", secret).isOk() && secret == "SECRET");
    for (const QueuedSend& q : w.queue.list()) w.queue.withdraw(q.machine, q.id);
    return 0;
}
