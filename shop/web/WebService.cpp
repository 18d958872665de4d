#include "WebService.h"

#include <algorithm>

#include "FileIo.h"

namespace fbx::shop::web {

WebService::WebService(ShopAccess& shop, QueueStore& queue, Journal& journal, const Clock& clock)
    : m_clock(clock),
      m_journal(journal),
      m_api(shop, queue, journal, m_tally, clock),
      m_server(m_api) {
    queue.onChange([this, &shop](const std::string& machine) {
        shop.queueChanged(machine);
        m_nextBoard = 0;
    });
}

WebService::~WebService() = default;

Status WebService::apply(const WebConfig& config) {
    m_api.configure(config);
    const bool sameListener = config.address == m_config.address && config.port == m_config.port &&
                              config.certFile == m_config.certFile &&
                              config.keyFile == m_config.keyFile;
    const bool wasRunning = m_server.running();
    m_config = config;
    if (!config.enabled) {
        m_server.stop();
        return Status::ok();
    }
    if (wasRunning && sameListener) return Status::ok();
    if (!m_seeded) {
        m_tally.seed(m_journal.path(), std::time(nullptr));
        m_seeded = true;
    }
    ServerOptions options;
    options.address = config.address;
    options.port = config.port;
    Status st;
    if (!config.certFile.empty()) {
        st = readWholeFile(config.certFile, options.certPem);
        if (st.isOk()) st = readWholeFile(config.keyFile, options.keyPem);
    }
    if (st.isOk()) st = m_server.start(options);
    JournalRecord r;
    r.time = std::time(nullptr);
    r.direction = "web";
    r.file =
        config.address + ":" + std::to_string(m_server.running() ? m_server.port() : config.port);
    r.outcome = st.isOk() ? "listening" : "not started";
    r.detail = st.message();
    m_journal.append(r);
    return st;
}

std::int64_t WebService::timeoutMs() const {
    const std::int64_t now = m_clock.nowMs();
    std::int64_t wait = m_server.timeoutMs(now);
    if (m_server.streamCount() > 0) {
        const std::int64_t due = std::max<std::int64_t>(0, m_nextBoard - now);
        wait = wait < 0 ? due : std::min(wait, due);
    }
    return wait;
}

void WebService::publishBoard(std::int64_t now) {
    if (m_server.streamCount() == 0 || now < m_nextBoard) return;
    m_nextBoard = now + kBoardEveryMs;
    const std::string board = m_api.machinesJson();
    if (board != m_lastBoard) {
        m_server.publish("event: machines\ndata: " + board + "\n\n");
        m_lastBoard = board;
        m_lastSent = now;
    } else if (now - m_lastSent >= kKeepAliveMs) {
        m_server.publish(": still here\n\n");
        m_lastSent = now;
    }
}

void WebService::run() {
    if (!m_server.running()) return;
    const std::int64_t now = m_clock.nowMs();
    m_api.setClientCount(m_server.clientCount());
    m_server.run(now);
    publishBoard(now);
}

void WebService::journaled(const JournalRecord& record) {
    m_tally.count(record);
    m_nextBoard = 0;
}

}  // namespace fbx::shop::web
