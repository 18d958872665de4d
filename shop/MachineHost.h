#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Clock.h"
#include "Journal.h"
#include "LineKeeper.h"
#include "LinePorts.h"
#include "ReceiveEngine.h"
#include "RequestMatcher.h"
#include "SendEngine.h"
#include "SendQueue.h"
#include "ServiceView.h"
#include "ShopConfig.h"

namespace fbx::shop {

// When the host wants to be serviced again: when fd becomes readable (or
// hangs up), or at atMs on the clock, whichever comes first.
struct Wake {
    int fd = -1;            // -1: no descriptor to wait on
    std::int64_t atMs = -1;  // -1: no time
};

// One machine of the shop on its line: listens, receives what the machine
// punches and stores it in `incoming`, answers the machine's requests from
// `folder`, and keeps the line through losses. It hosts one engine at a
// time, a receive engine or a send engine, as the transfer window would,
// and answers their questions itself. Everything runs on the caller's
// thread, one service() at a time; no call blocks.
//
// A punched program is stored under its first O-number (or the time), never
// over another file, and appears only whole, as soon as its end is seen; a
// reception cut short is stored with ".partial". The stored file holds what
// the machine punched (from its first "%" through its second in marks
// mode), nothing more. Bytes read from the line are never dropped: when the
// line is lost, the service stops or the machine is retired, every program
// among the bytes read so far is stored, whole or as ".partial". A program
// that cannot be stored (a full disk) is kept where the journal says, in as
// few files as possible.
class MachineHost {
public:
    MachineHost(MachineConfig config, Clock& clock, Journal& journal, LinePortFactory makePort);
    // Takes over the open line of a predecessor on the same line, with the
    // bytes it holds.
    MachineHost(MachineConfig config, Clock& clock, Journal& journal,
                std::unique_ptr<LineKeeper> line);
    ~MachineHost();
    MachineHost(const MachineHost&) = delete;
    MachineHost& operator=(const MachineHost&) = delete;

    // Does what can be done now and says when to come back.
    Wake service();

    // Stores what was read and ends any transfer by the quit path (a
    // reception is stored as ".partial"), then the host is done. Nothing
    // more is read from the line.
    void terminate();
    // Lets a transfer in progress finish, then the host is done.
    void retire();
    bool done() const { return m_phase == Phase::Done; }
    bool retiring() const { return m_retiring; }
    // A done host's line, still open, for a successor on the same line;
    // null when the line is not open.
    std::unique_ptr<LineKeeper> releaseLine();

    // The queue the host takes sends from when its line is free (null: none).
    // A queued send goes out as an answer to a request does, at the machine's
    // DC1, but waits for it as long as the send stays queued; a program the
    // machine punches meanwhile comes first, and the send waits again.
    void setQueue(SendQueue* queue) { m_queue = queue; }

    const MachineConfig& config() const { return m_config; }
    // The transfer in progress: bytes received (total -1) or sent of total;
    // both -1 when there is none.
    void progress(std::int64_t& done, std::int64_t& total) const;
    // "listening", "receiving 1200 bytes", "sending 300 of 2048", "held by
    // DC3 for 12 s", "line lost since 10:31:02 (reason), retrying every 5 s", ...
    std::string stateText() const;

    // How long the host waits before it opens a lost line again, for a
    // machine's DC1 after a request, and for the next byte of a program
    // in marks mode before the reception is stored as cut short.
    static constexpr std::int64_t kRetryMs = 5000;
    static constexpr std::int64_t kDc1WaitMs = 300000;
    static constexpr std::int64_t kStalledReceptionMs = 120000;
    // While bytes are flowing in, the engine reads them at this pace rather
    // than at every byte's arrival.
    static constexpr std::int64_t kReadPaceMs = 40;
    // Engine passes in one service(), so that one busy line never starves
    // the others.
    static constexpr int kStepsPerService = 512;

private:
    enum class Phase { Closed, Listening, Receiving, Answering, Done };

    void start();
    void recoverLeftover();
    Wake servicePhase(std::int64_t now);
    Wake serviceClosed(std::int64_t now);
    Wake serviceListening(std::int64_t now);
    Wake serviceReceiving(std::int64_t now);
    Wake serviceAnswering(std::int64_t now);
    // Runs the engine's passes; the last result, and whether any moved.
    StepResult stepEngine(TransferEngine& engine, bool& moved);
    Wake waitAfter(const StepResult& r, bool moved, std::int64_t now) const;

    void startReception(bool eia);
    void finishReception();
    void answerRequest(const std::string& name, JournalRecord request);
    // Starts the machine's first queued send, if any; false when none started.
    bool startQueued();
    void startAnswer(const std::string& text, const std::string& label);
    void finishAnswer();
    // Gives the reception's file its name in `incoming`.
    void storeReception(const std::string& text, bool complete, JournalRecord record);
    // A reception the engine could not write whole: its parts are kept.
    void keepFailedReception(const std::string& said, JournalRecord record);
    void releaseMachine();
    void lineLost();
    void lineFailed(const std::string& outcome);
    void afterTransfer();

    JournalRecord record(const std::string& direction) const;
    JournalRecord transferRecord(const std::string& direction, bool in) const;
    void journal(const JournalRecord& record);
    // A file for the next reception, hidden in `incoming`, that holds
    // nothing yet.
    std::string freshReceivingPath() const;
    Settings settingsFor(bool eia, bool marks) const;

    MachineConfig m_config;
    Clock& m_clock;
    Journal& m_journal;
    std::unique_ptr<LineKeeper> m_line;
    RequestMatcher m_request;
    ServiceView m_view;
    std::unique_ptr<ReceiveEngine> m_receive;
    std::unique_ptr<SendEngine> m_send;

    Phase m_phase = Phase::Closed;
    bool m_terminating = false;
    bool m_retiring = false;
    bool m_engineAbandoned = false;
    bool m_releaseOwed = false;  // releaseMachine()'s DC1 still to go
    std::string m_cut;  // why a transfer was ended early, for the journal
    bool m_eia = false;  // tape code of the current or last program
    bool m_everOpen = false;
    bool m_lossJournaled = false;
    std::string m_lineReason;  // why the line is not open, as last journaled
    std::time_t m_lineReasonSince = 0;
    std::string m_receivingPath;
    std::int64_t m_retryAt = 0;
    std::int64_t m_engineStartMs = 0;
    std::string m_answerLabel;
    std::int64_t m_answerLength = 0;
    SendQueue* m_queue = nullptr;
    std::optional<QueuedSend> m_queued;  // the queued send being answered
    bool m_queuedSending = false;        // ... and its DC1 has come
};

}  // namespace fbx::shop
