#pragma once

#include <cstdint>
#include <string>

#include "Clock.h"
#include "Http.h"
#include "Journal.h"
#include "QueueStore.h"
#include "ShopAccess.h"
#include "Tally.h"
#include "WebConfig.h"

namespace fbx::shop::web {

// The web side's routes: the page, the JSON API the page and scripts use,
// the event stream and /metrics.
//
// Looking (GET) needs the token unless open-view is on; every change (PUT,
// POST, DELETE) needs the token and the header "X-Requested-By: ferobrixlan",
// which no foreign page can make a browser send. The token comes as
// "Authorization: Bearer TOKEN" or as the cookie the login sets. A request
// without the right token gets 401 with no word about what was wrong, before
// anything about the machine or file it names is looked at. A failed login
// is answered later and later (up to kMostLoginDelayMs) after failures,
// without ever holding up the loop. Names from the path are checked as a
// machine's requests are; program texts are only ever sent as bytes.
class WebApi : public HttpHandler {
public:
    WebApi(ShopAccess& shop, QueueStore& queue, Journal& journal, TransferTally& tally,
           const Clock& clock);
    void configure(const WebConfig& config) { m_config = config; }

    std::optional<HttpResponse> begin(const HttpRequest& request,
                                      std::unique_ptr<BodySink>& body) override;
    HttpResponse finish(const HttpRequest& request, std::unique_ptr<BodySink> body) override;

    // The board: every machine with its state, progress, queue, last
    // transfer and today's counts, as JSON (GET /api/v1/machines, and each
    // event of /api/v1/events).
    std::string machinesJson() const;
    void setClientCount(std::size_t clients) { m_clients = clients; }

    static constexpr std::uint64_t kMostUpload = 64u << 20;
    static constexpr std::size_t kMostJsonBody = 16 * 1024;
    static constexpr std::int64_t kMostLoginDelayMs = 8000;

private:
    struct Route;
    Route match(const HttpRequest& request) const;
    bool tokenGiven(const HttpRequest& request) const;
    std::optional<MachineSnapshot> machine(const std::string& name) const;
    HttpResponse serve(const Route& route, const HttpRequest& request);
    HttpResponse journalPage(const HttpRequest& request) const;
    HttpResponse compare(const HttpRequest& request) const;
    HttpResponse queue(const Route& route, const HttpRequest& request, const std::string& body);
    HttpResponse login(const std::string& body);
    void journalWeb(const std::string& machine, const std::string& outcome, const std::string& file,
                    std::int64_t bytes = 0);

    ShopAccess& m_shop;
    QueueStore& m_queue;
    Journal& m_journal;
    TransferTally& m_tally;
    const Clock& m_clock;
    WebConfig m_config;
    std::size_t m_clients = 0;
    int m_loginFailures = 0;
    std::int64_t m_lastLoginFailureMs = 0;
};

}  // namespace fbx::shop::web
