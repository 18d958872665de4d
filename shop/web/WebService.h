#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Clock.h"
#include "HttpServer.h"
#include "Journal.h"
#include "QueueStore.h"
#include "ShopAccess.h"
#include "Tally.h"
#include "WebApi.h"
#include "WebConfig.h"

namespace fbx::shop::web {

// The web side of the service as its loop sees it: started, changed or
// stopped by the [web] section at each (re)reading of shop.ini, waited on
// through one descriptor, and run when that descriptor is ready or its
// timeout has passed. Board changes go out to the event streams at most
// every kBoardEveryMs; the streams hear at least every kKeepAliveMs, so
// that a client that went away is noticed.
class WebService {
public:
    WebService(ShopAccess& shop, QueueStore& queue, Journal& journal, const Clock& clock);
    ~WebService();

    // Starts, restarts or stops the web side as config says (not enabled:
    // stopped). A failure to listen is journaled and returned; the service
    // goes on without its web side.
    Status apply(const WebConfig& config);
    bool running() const { return m_server.running(); }
    int port() const { return m_server.port(); }

    // The descriptor to wait on (-1 when stopped) and how long the loop may
    // wait at most (-1: as long as it likes).
    int fd() const { return m_server.fd(); }
    std::int64_t timeoutMs() const;
    void run();

    // Every record the service journals: the tiles' last transfer, today's
    // counts and the metrics.
    void journaled(const JournalRecord& record);

    static constexpr std::int64_t kBoardEveryMs = 250;
    static constexpr std::int64_t kKeepAliveMs = 15000;

private:
    void publishBoard(std::int64_t now);

    const Clock& m_clock;
    Journal& m_journal;
    TransferTally m_tally;
    WebApi m_api;
    HttpServer m_server;
    WebConfig m_config;
    bool m_seeded = false;
    std::string m_lastBoard;
    std::int64_t m_nextBoard = 0;
    std::int64_t m_lastSent = 0;
};

}  // namespace fbx::shop::web
