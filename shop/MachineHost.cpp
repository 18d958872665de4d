#include "MachineHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>

#include "ConfigFile.h"
#include "Crc32.h"
#include "EiaCodes.h"
#include "PollPort.h"
#include "ProTool.h"
#include "ProgramNames.h"
#include "ReceivedFile.h"

namespace fbx::shop {

namespace fs = std::filesystem;

namespace {

constexpr std::uint8_t kPercent = '%';
constexpr std::size_t kUndecidedLimit = 65536;

// Bytes that are a program's "%" mark in the given tape code.
std::array<bool, 256> markTable(bool eia) {
    std::array<bool, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = FromEiaCode(static_cast<std::uint8_t>(b), eia) == kPercent;
    return table;
}

// In continuous mode with code auto: 1 for EIA, 0 for ISO, -1 when the
// bytes tell nothing yet.
int telltaleCode(std::string_view bytes) {
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b == kPercent || b == '\r' || b == '\n') return 0;
        if (b == 0x80 || FromEiaCode(b, true) == kPercent) return 1;
    }
    return -1;
}

// The hidden files of receptions in `incoming`: NAME~N for this service,
// NAME alone for a reception written by an earlier version, whose file
// begins with an empty line of the window program's.
const std::string kReceivingPrefix = ".ferobrixlan-receiving-";

FilePart partOf(const std::string& path) {
    FilePart part;
    part.file = path;
    std::string bytes;
    if (readWholeFile(path, bytes).isOk()) {
        Crc32 crc;
        crc.update(bytes);
        part.bytes = static_cast<std::int64_t>(bytes.size());
        part.crc32 = crc.value();
    }
    return part;
}

// Takes the last count bytes off a file (a line end that is not the machine's).
void dropTail(const std::string& path, std::int64_t count) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size >= count) {
        if (::truncate(path.c_str(), st.st_size - count) == 0) {
            int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
        }
    }
}

bool hasContent(std::string_view text) {
    return text.find_first_not_of(std::string_view(" \t\r\n\0", 5)) != std::string_view::npos;
}

// The answer to a request that cannot be served, so that the operator at
// the machine sees why on the control. Only harmless characters of the
// name are repeated: no mark, no bracket, no control byte.
std::string notFoundProgram(const std::string& name) {
    std::string shown;
    for (char c : name.substr(0, kMaxNameLength)) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '_' ||
                           c == '-' || c == '/';
        shown += plain ? c : '?';
    }
    return "%\r\n(" + shown + " NOT FOUND)\r\n%";
}

}  // namespace

MachineHost::MachineHost(MachineConfig config, Clock& clock, Journal& journal,
                         LinePortFactory makePort)
    : m_config(std::move(config)), m_clock(clock), m_journal(journal) {
    m_line = std::make_unique<LineKeeper>(makePort(m_config.port), m_clock);
    start();
}

MachineHost::MachineHost(MachineConfig config, Clock& clock, Journal& journal,
                         std::unique_ptr<LineKeeper> line)
    : m_config(std::move(config)), m_clock(clock), m_journal(journal), m_line(std::move(line)) {
    start();
    if (m_line->lineOpen() && !m_line->lost()) {
        m_phase = Phase::Listening;
        m_everOpen = true;
    }
}

MachineHost::~MachineHost() = default;

void MachineHost::start() {
    std::string error;
    m_request.compile(m_config.request, error);
    std::error_code ec;
    fs::create_directories(m_config.incoming, ec);
    recoverLeftover();
}

std::string MachineHost::freshReceivingPath() const {
    const fs::path base = fs::path(m_config.incoming) / (kReceivingPrefix + m_config.name);
    std::error_code ec;
    for (int i = 0;; ++i) {
        fs::path candidate = base;
        candidate += "~" + std::to_string(i);
        if (!fs::exists(fs::symlink_status(candidate, ec)) || i == 999) return candidate.string();
    }
}

Settings MachineHost::settingsFor(bool eia, bool marks) const {
    Settings s = engineSettings(m_config);
    s.code = eia ? "EIA" : "ISO";
    s.mode = marks ? "Data In/Out" : "NOMAL";
    return s;
}

JournalRecord MachineHost::record(const std::string& direction) const {
    JournalRecord r;
    r.time = std::time(nullptr);
    r.machine = m_config.name;
    r.direction = direction;
    return r;
}

JournalRecord MachineHost::transferRecord(const std::string& direction, bool in) const {
    JournalRecord r = record(direction);
    r.bytes = in ? m_line->bytesIn() : m_line->bytesOut();
    r.crc32 = in ? m_line->crcIn() : m_line->crcOut();
    const LineKeeper::Span& span = in ? m_line->spanIn() : m_line->spanOut();
    if (span.firstMs >= 0) r.seconds = static_cast<double>(span.lastMs - span.firstMs) / 1000.0;
    return r;
}

void MachineHost::journal(const JournalRecord& r) { m_journal.append(r); }

void MachineHost::recoverLeftover() {
    // A reception the service never finished (it was killed) left its file.
    const std::string prefix = kReceivingPrefix + m_config.name;
    std::error_code ec;
    std::vector<std::string> left;
    for (const fs::directory_entry& e : fs::directory_iterator(m_config.incoming, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        if (rest.empty() || (rest.size() > 1 && rest[0] == '~' &&
                             rest.find_first_not_of("0123456789", 1) == std::string::npos))
            left.push_back(e.path().string());
    }
    std::sort(left.begin(), left.end());
    for (const std::string& path : left) {
        std::string text;
        if (!readWholeFile(path, text).isOk()) continue;
        const bool older = path.size() == (fs::path(m_config.incoming) / prefix).string().size();
        if (older && text.rfind("\r\n", 0) == 0) {
            text.erase(0, 2);
            if (!writeWholeFile(path, text).isOk()) continue;
        }
        if (!hasContent(text)) {
            fs::remove(path, ec);
            continue;
        }
        m_receivingPath = path;
        JournalRecord r = record("receive");
        Crc32 crc;
        crc.update(text);
        r.bytes = static_cast<std::int64_t>(text.size());
        r.crc32 = crc.value();
        r.detail = "left by a reception the service did not finish";
        storeReception(text, false, r);
    }
    m_receivingPath.clear();
}

Wake MachineHost::service() {
    const std::int64_t now = m_clock.nowMs();
    // The DC1 that lets the machine go, when the line could not take it.
    if (m_releaseOwed)
        m_releaseOwed = m_line->lineOpen() && m_line->sio_putch(1, kDC1) == SIO_WRITETIMEOUT;
    Wake wake = servicePhase(now);
    if (m_releaseOwed && (wake.atMs < 0 || wake.atMs > now + 5)) wake.atMs = now + 5;
    return wake;
}

Wake MachineHost::servicePhase(std::int64_t now) {
    switch (m_phase) {
        case Phase::Closed:
            return serviceClosed(now);
        case Phase::Listening:
            return serviceListening(now);
        case Phase::Receiving:
            return serviceReceiving(now);
        case Phase::Answering:
            return serviceAnswering(now);
        case Phase::Done: break;
    }
    return {};
}

void MachineHost::terminate() {
    m_terminating = true;
    // What was read is stored; nothing more is read.
    if (m_line->lineOpen()) {
        m_line->pull();
        m_line->stopReading();
    }
    if (m_phase == Phase::Closed) m_phase = Phase::Done;
}

void MachineHost::retire() {
    m_retiring = true;
    if (m_phase == Phase::Closed) m_phase = Phase::Done;
}

std::unique_ptr<LineKeeper> MachineHost::releaseLine() {
    if (m_phase != Phase::Done || !m_line->lineOpen() || m_line->lost()) return nullptr;
    return std::move(m_line);
}

Wake MachineHost::serviceClosed(std::int64_t now) {
    if (m_terminating || m_retiring) {
        m_phase = Phase::Done;
        return {};
    }
    if (now < m_retryAt) return {-1, m_retryAt};
    SerialCodes codes;
    ProTool(settingsFor(false, true), codes);
    if (m_line->openLine(codes)) {
        m_line->holdWithDtr(m_config.handshake == "Brix");
        if (m_lossJournaled) {
            JournalRecord r = record("line");
            r.file = m_config.port;
            r.outcome = "reopened";
            journal(r);
        }
        m_lossJournaled = false;
        m_lineReason.clear();
        m_everOpen = true;
        m_phase = Phase::Listening;
        return {-1, now};
    }
    lineFailed(m_everOpen ? "lost" : "not available");
    m_retryAt = now + kRetryMs;
    return {-1, m_retryAt};
}

void MachineHost::lineFailed(const std::string& outcome) {
    // Each new reason is journaled once, not every retry.
    const std::string reason = m_line->lastError();
    if (m_lossJournaled && reason == m_lineReason) return;
    JournalRecord r = record("line");
    r.file = m_config.port;
    r.outcome = outcome;
    r.detail = reason + "; opened again every " + std::to_string(kRetryMs / 1000) + " s";
    journal(r);
    m_lossJournaled = true;
    m_lineReason = reason;
    m_lineReasonSince = std::time(nullptr);
}

void MachineHost::lineLost() {
    const std::int64_t now = m_clock.nowMs();
    lineFailed("lost");
    m_line->closeLine();
    m_phase = m_terminating || m_retiring ? Phase::Done : Phase::Closed;
    m_retryAt = now + kRetryMs;
}

void MachineHost::afterTransfer() {
    // Whatever the line holds still is looked at first, whether the line is
    // lost or the host is stopping: a program in it is stored too.
    m_phase = Phase::Listening;
}

Wake MachineHost::serviceListening(std::int64_t now) {
    const bool lost = !m_line->pull();
    const std::string_view held = m_line->held();
    std::int64_t decideAt = -1;
    if (m_config.receive == ReceiveMode::Marks) {
        // Nothing before a program's first mark belongs to it.
        const auto iso = markTable(false), eia = markTable(true);
        std::size_t i = 0;
        int code = -1;
        for (; i < held.size() && code < 0; ++i) {
            const auto b = static_cast<std::uint8_t>(held[i]);
            if (m_config.code != TapeCode::Eia && iso[b]) code = 0;
            else if (m_config.code != TapeCode::Iso && eia[b]) code = 1;
        }
        m_line->dropHeld(code < 0 ? i : i - 1);
        if (code >= 0) {
            startReception(code == 1);
            return {-1, now};
        }
    } else if (!held.empty()) {
        int code = m_config.code == TapeCode::Iso   ? 0
                   : m_config.code == TapeCode::Eia ? 1
                                                    : telltaleCode(held);
        const auto idleMs = static_cast<std::int64_t>(m_config.idleSeconds * 1000);
        if (code < 0 && (lost || m_terminating || m_retiring ||
                         now - m_line->lastInputMs() >= idleMs || held.size() >= kUndecidedLimit))
            code = 0;
        if (code >= 0) {
            startReception(code == 1);
            return {-1, now};
        }
        decideAt = m_line->lastInputMs() + idleMs;
    }
    if (lost) {
        lineLost();
        return {-1, now};
    }
    if (m_terminating || m_retiring) {
        m_phase = Phase::Done;
        return {};
    }
    if (m_line->held().empty() && startQueued()) return {-1, now};
    if (m_line->handle() < 0) return {-1, decideAt >= 0 ? decideAt : now + 50};
    return {m_line->handle(), decideAt};
}

void MachineHost::startReception(bool eia) {
    m_eia = eia;
    const bool marks = m_config.receive == ReceiveMode::Marks;
    std::error_code ec;
    fs::create_directories(m_config.incoming, ec);
    // The reception's file holds exactly what is received: no empty line
    // at its top, so that it can become the stored program as it is.
    m_receivingPath = freshReceivingPath();
    ReceivedFile target(m_receivingPath);
    Status st = createNewFile(m_receivingPath, "");
    if (st.isOk()) st = target.adopt();
    if (!st.isOk()) {
        // The engine tries again at each write, and rescues what it cannot
        // write; the operator learns of the trouble now.
        JournalRecord r = record("receive");
        r.file = m_receivingPath;
        r.outcome = "warning";
        r.detail = st.message();
        journal(r);
    }
    m_line->beginEngine(marks ? LineKeeper::Limit::ThroughProgramEnd : LineKeeper::Limit::None,
                        markTable(eia));
    const Settings settings = settingsFor(eia, marks);
    SerialCodes codes;
    ProTool(settings, codes);
    m_receive = std::make_unique<ReceiveEngine>(*m_line, m_clock, m_view, settings, codes);
    m_engineAbandoned = false;
    m_cut.clear();
    m_engineStartMs = m_clock.nowMs();
    m_phase = Phase::Receiving;
    // The program's first bytes are here already: the line is read at once.
    if (!m_receive->open(std::move(target), 0)) {
        m_view.takeSaid();
        m_receive.reset();
        fs::remove(m_receivingPath, ec);
        lineLost();
    }
}

StepResult MachineHost::stepEngine(TransferEngine& engine, bool& moved) {
    StepResult r;
    for (int i = 0; i < kStepsPerService; ++i) {
        r = engine.step();
        moved = moved || r.progressed;
        // A transfer that has ended closes its window at once, as the
        // command line does: its program is stored, and the next one read,
        // without waiting for the window's close timer.
        if (engine.outcome() != Outcome::Running && !engine.closed()) engine.closeRequested();
        if (!r.progressed || engine.closed()) break;
    }
    return r;
}

Wake MachineHost::waitAfter(const StepResult& r, bool moved, std::int64_t now) const {
    if (r.progressed) return {-1, now};
    if (m_phase == Phase::Receiving && moved) return {-1, now + kReadPaceMs};
    if (r.watchPort && !m_line->limitReached() && m_line->handle() >= 0) {
        // Only the line can change anything now; with "Brix" that includes
        // the DSR line, which no descriptor reports.
        const std::int64_t longest = m_config.handshake == "Brix" ? 20 : 1000;
        return {m_line->handle(), now + std::max<std::int64_t>(r.waitMs, longest)};
    }
    // A paced line that took all it may for now has room again after a few
    // character times.
    const int room = m_line->writableInMs();
    return {-1, now + (room > 0 ? std::min(r.waitMs, room) : r.waitMs)};
}

Wake MachineHost::serviceReceiving(std::int64_t now) {
    ReceiveEngine& engine = *m_receive;
    const bool marks = m_config.receive == ReceiveMode::Marks;
    const std::int64_t quietLimit =
        marks ? kStalledReceptionMs : static_cast<std::int64_t>(m_config.idleSeconds * 1000);
    bool moved = false;
    StepResult r = stepEngine(engine, moved);
    const std::int64_t last = std::max(m_line->lastInputMs(), m_engineStartMs);
    if (!engine.closed() && !m_engineAbandoned) {
        // At the stop, the program ends once the engine has everything read
        // so far: a program whose end is among it is stored whole.
        if (m_terminating && !moved && m_line->held().empty()) {
            m_cut = "ended by the service's stop";
        } else if (marks && engine.receiveStarted() && now - last >= quietLimit) {
            m_cut = "no byte for " + std::to_string(quietLimit / 1000) + " s";
        }
        // Continuous mode ends at its quiet spell, by the quit path with OK.
        if (!m_cut.empty() || (!marks && engine.receiveStarted() && now - last >= quietLimit)) {
            m_engineAbandoned = true;
            engine.abandon();
            r = stepEngine(engine, moved);
        }
    }
    if (engine.closed()) {
        finishReception();
        return {-1, now};
    }
    Wake wake = waitAfter(r, moved, now);
    if (m_terminating) wake.atMs = std::min(wake.atMs < 0 ? now + 50 : wake.atMs, now + 50);
    if (!m_engineAbandoned && engine.receiveStarted()) {
        const std::int64_t due = last + quietLimit;
        if (wake.atMs < 0 || due < wake.atMs) wake.atMs = due;
    }
    return wake;
}

void MachineHost::releaseMachine() {
    // The quit path leaves the machine held (XOFF, or DTR off with "Brix");
    // the line stays open, so the host lets it go on.
    m_releaseOwed = m_line->sio_putch(1, kDC1) == SIO_WRITETIMEOUT;
    m_line->sio_DTR(1, 1);
}

void MachineHost::finishReception() {
    const Outcome outcome = m_receive->outcome();
    const bool heldByQuit = outcome == Outcome::Saved || outcome == Outcome::Incomplete;
    const std::string said = m_view.takeSaid();
    JournalRecord r = transferRecord("receive", true);
    const bool lost = outcome == Outcome::PortLost || m_line->lost();
    if (heldByQuit && !lost) releaseMachine();
    const bool complete =
        (outcome == Outcome::Finished || outcome == Outcome::Saved) && m_cut.empty();
    if (outcome == Outcome::SaveFailed) {
        keepFailedReception(said, r);
        afterTransfer();
        return;
    }
    // The engine goes on in a file beside its target when the target was
    // removed or replaced meanwhile; the text is where it went.
    m_receivingPath = m_receive->receivedPath();
    // A reception saved as cut short ends with a line end of the engine's.
    if (m_receive->lineEndAdded()) dropTail(m_receivingPath, 2);
    m_receive.reset();
    std::string text;
    Status read = readWholeFile(m_receivingPath, text);

    std::error_code ec;
    if (!hasContent(text)) {
        fs::remove(m_receivingPath, ec);
        if (r.bytes > 0) {
            r.outcome = "empty";
            r.detail = read.isOk() ? m_cut : read.message();
            journal(r);
        }
    } else if (std::optional<std::string> name = complete ? m_request.match(text) : std::nullopt) {
        fs::remove(m_receivingPath, ec);
        r.direction = "request";
        r.file = *name;
        if (!lost) {
            answerRequest(*name, r);
            return;
        }
        r.outcome = "line lost";
        journal(r);
    } else {
        if (!complete) r.detail = !m_cut.empty() ? m_cut : said;
        storeReception(text, complete, r);
    }
    // Bytes read before the line was lost are looked at before it is closed.
    afterTransfer();
}

void MachineHost::storeReception(const std::string& text, bool complete, JournalRecord r) {
    std::string base = firstProgramNumber(text);
    if (base.empty()) base = timeStampName(std::time(nullptr));
    const std::string suffix = complete ? ".nc" : ".nc.partial";
    std::string stored;
    Status st = linkProgram(m_config.incoming, base, suffix, m_receivingPath, stored);
    if (st.isOk()) {
        r.file = stored;
        r.outcome = complete ? "stored" : "partial";
        const FilePart part = partOf(stored);
        r.fileBytes = part.bytes;
        r.fileCrc32 = part.crc32;
    } else {
        // Nothing received is dropped: the text goes where it can be found.
        std::string error;
        const std::string rescued =
            ReceivedFile((fs::path(m_config.incoming) / (base + suffix)).string())
                .rescue(text, error);
        r.outcome = "failed";
        if (!rescued.empty()) {
            std::error_code ec;
            fs::remove(m_receivingPath, ec);
            r.file = rescued;
            r.parts = {partOf(rescued)};
            r.detail = st.message() + "; kept in " + rescued;
        } else {
            r.file = m_receivingPath;
            r.parts = {partOf(m_receivingPath)};
            r.detail = st.message() + "; kept in " + m_receivingPath + " (" + error + ")";
        }
    }
    m_receivingPath.clear();
    journal(r);
}

void MachineHost::keepFailedReception(const std::string& said, JournalRecord r) {
    // The first part is in the reception's file, the rest where the engine
    // rescued it; a line end the engine added is not the machine's.
    std::vector<std::string> parts{m_receive->receivedPath()};
    if (!m_receive->rescuePath().empty()) parts.push_back(m_receive->rescuePath());
    if (m_receive->lineEndAdded()) dropTail(parts.back(), 2);
    m_receive.reset();
    std::string whole;
    for (const std::string& path : parts) {
        std::string bytes;
        if (readWholeFile(path, bytes).isOk()) whole += bytes;
    }
    std::string base = firstProgramNumber(whole);
    if (base.empty()) base = timeStampName(std::time(nullptr));
    std::error_code ec;
    // Whole in one file where there is room; otherwise the part in
    // `incoming` is given a name of its own, so that no later reception
    // takes its place.
    std::string error;
    const std::string rescued =
        parts.size() > 1 ? ReceivedFile((fs::path(m_config.incoming) / (base + ".nc")).string())
                               .rescue(whole, error)
                         : std::string();
    if (!rescued.empty()) {
        for (const std::string& path : parts) fs::remove(path, ec);
        parts = {rescued};
    } else {
        std::string named;
        if (linkProgram(m_config.incoming, base, ".nc.part1", parts[0], named).isOk())
            parts[0] = named;
    }
    r.outcome = "failed";
    std::string where;
    for (const std::string& path : parts) {
        const FilePart part = partOf(path);
        if (part.bytes == 0) {
            fs::remove(path, ec);
            continue;
        }
        r.parts.push_back(part);
        where +=
            (where.empty() ? "" : ", then ") + path + " (" + std::to_string(part.bytes) + " bytes)";
    }
    if (!r.parts.empty()) r.file = r.parts[0].file;
    r.detail = said + (where.empty() ? "; nothing of it could be kept"
                                     : "; the program is kept in " + where);
    m_receivingPath.clear();
    journal(r);
}

void MachineHost::answerRequest(const std::string& name, JournalRecord r) {
    Requested found = findRequested(m_config.folder, name);
    std::string text;
    if (found.kind == Requested::Kind::Found) {
        Status read = readWholeFile(found.path, text);
        if (!read.isOk() || text.size() < 4) {
            found.kind = Requested::Kind::Missing;
            found.reason = read.isOk() ? found.path + ": the file holds no program" : read.message();
        }
    } else if (found.kind == Requested::Kind::Missing) {
        found.reason = "no " + name + ".nc, .txt or .tap in " + m_config.folder;
    }
    switch (found.kind) {
        case Requested::Kind::Found:
            r.outcome = "found";
            r.detail = found.path;
            break;
        case Requested::Kind::Missing: r.outcome = "not found"; break;
        case Requested::Kind::Refused: r.outcome = "refused"; break;
    }
    if (found.kind != Requested::Kind::Found) r.detail = found.reason;
    journal(r);
    if (found.kind == Requested::Kind::Found) {
        startAnswer(text, found.path);
    } else {
        text = notFoundProgram(name);
        startAnswer(text, text.substr(3, text.size() - 6));
    }
}

bool MachineHost::startQueued() {
    std::optional<QueuedSend> queued = m_queue ? m_queue->take(m_config.name) : std::nullopt;
    if (!queued) return false;
    const std::string path = pathInside(m_config.folder, queued->program);
    std::string text;
    const Status read = path.empty()
                            ? Status::refused(queued->program + " leads outside the folder")
                            : readWholeFile(path, text);
    if (!read.isOk() || text.empty()) {
        JournalRecord r = record("send");
        r.file = path.empty() ? queued->program : path;
        r.outcome = "failed";
        r.detail =
            "queued send: " + (read.isOk() ? std::string("the file is empty") : read.message());
        journal(r);
        m_queue->finished(queued->id);
        return false;
    }
    m_queued = queued;
    m_queuedSending = false;
    m_eia = m_config.code == TapeCode::Eia;
    startAnswer(text, path);
    if (!m_send) {
        m_queue->putBack(queued->id);
        m_queued.reset();
    }
    return true;
}

void MachineHost::startAnswer(const std::string& text, const std::string& label) {
    const bool marks = m_config.receive == ReceiveMode::Marks;
    // While the answer waits for the machine's DC1, a program the machine
    // punches instead is left on the line for a reception.
    std::array<bool, 256> starts{};
    if (marks) {
        const auto iso = markTable(false), eia = markTable(true);
        for (int b = 0; b < 256; ++b) {
            starts[b] = (m_config.code != TapeCode::Eia && iso[b]) ||
                        (m_config.code != TapeCode::Iso && eia[b]);
        }
    } else {
        starts.fill(true);
        starts[0] = starts[kDC1] = starts[kDC3] = false;
    }
    m_line->beginEngine(LineKeeper::Limit::BeforeProgramStart, starts);
    const Settings settings = settingsFor(m_eia, true);
    SerialCodes codes;
    ProTool(settings, codes);
    m_send = std::make_unique<SendEngine>(*m_line, m_clock, m_view, settings, codes);
    m_answerLabel = label;
    m_engineAbandoned = false;
    m_cut.clear();
    m_engineStartMs = m_clock.nowMs();
    m_phase = Phase::Answering;
    if (!m_send->open(text)) {
        m_view.takeSaid();
        m_send.reset();
        lineLost();
        return;
    }
    m_send->startPressed();
}

Wake MachineHost::serviceAnswering(std::int64_t now) {
    SendEngine& engine = *m_send;
    const bool waiting = engine.running() && engine.pollState().startSignal == 0;
    if (!engine.closed() && !m_engineAbandoned) {
        if (m_terminating) m_cut = "ended by the service's stop";
        else if (m_line->limitReached())
            m_cut = "the machine punched a program instead of reading the answer";
        else if (m_queued && !m_queue->stillQueued(m_queued->id))
            m_cut = "withdrawn from the queue";
        else if (m_queued && waiting && m_retiring)
            m_cut = "the machine's settings changed; the send waits in the queue";
        else if (waiting && !m_queued && now - m_engineStartMs >= kDc1WaitMs)
            m_cut = "no DC1 from the machine within " + std::to_string(kDc1WaitMs / 1000) + " s";
        if (!m_cut.empty()) {
            m_engineAbandoned = true;
            engine.abandon();
        }
    }
    bool moved = false;
    const StepResult r = stepEngine(engine, moved);
    if (m_queued && !m_queuedSending && engine.pollState().startSignal != 0) {
        m_queuedSending = true;
        m_queue->sending(m_queued->id);
    }
    if (engine.closed()) {
        finishAnswer();
        return {-1, now};
    }
    Wake wake = waitAfter(r, moved, now);
    if (!m_engineAbandoned && waiting && !m_queued) {
        const std::int64_t due = m_engineStartMs + kDc1WaitMs;
        if (wake.atMs < 0 || due < wake.atMs) wake.atMs = due;
    }
    return wake;
}

void MachineHost::finishAnswer() {
    const Outcome outcome = m_send->outcome();
    const std::string said = m_view.takeSaid();
    std::optional<QueuedSend> queued = std::move(m_queued);
    m_queued.reset();
    if (queued && outcome != Outcome::Finished && m_send->sentCount() == 0) {
        // Nothing went out: a send still queued waits for the next DC1.
        if (m_queue->stillQueued(queued->id)) m_queue->putBack(queued->id);
        m_send.reset();
        afterTransfer();
        return;
    }
    if (queued) m_queue->finished(queued->id);
    JournalRecord r = transferRecord("send", false);
    r.file = m_answerLabel;
    r.outcome = outcome == Outcome::Finished   ? "sent"
                : outcome == Outcome::PortLost ? "line lost"
                                               : "stopped";
    r.detail = !m_cut.empty() ? m_cut : !said.empty() ? said : queued ? "queued send" : "";
    journal(r);
    m_send.reset();
    afterTransfer();
}

void MachineHost::progress(std::int64_t& done, std::int64_t& total) const {
    done = total = -1;
    if (m_phase == Phase::Receiving) {
        done = m_line->bytesIn();
    } else if (m_phase == Phase::Answering && m_send) {
        done = m_send->sentCount();
        total = m_send->totalLength();
    }
}

std::string MachineHost::stateText() const {
    const std::int64_t now = m_clock.nowMs();
    switch (m_phase) {
        case Phase::Closed: {
            if (!m_lossJournaled) return "opening the line";
            std::tm local{};
            localtime_r(&m_lineReasonSince, &local);
            char since[16];
            std::strftime(since, sizeof since, "%H:%M:%S", &local);
            return std::string(m_everOpen ? "line lost" : "line not available") + " since " +
                   since + " (" + m_lineReason + "), retrying every " +
                   std::to_string(kRetryMs / 1000) + " s";
        }
        case Phase::Listening: return "listening";
        case Phase::Receiving: return "receiving " + std::to_string(m_line->bytesIn()) + " bytes";
        case Phase::Answering: {
            const std::string file = fs::path(m_answerLabel).filename().string();
            if (m_send->running() && m_send->pollState().startSignal == 0)
                return "waiting " + std::to_string((now - m_engineStartMs) / 1000) +
                       " s for DC1 to send " + file;
            const LineState line = m_send->lineState();
            if (line == LineState::HeldByMachine || line == LineState::WaitingForDsr)
                return std::string(line == LineState::HeldByMachine ? "held by DC3 for "
                                                                    : "held by DSR for ") +
                       std::to_string((now - m_send->lineStateSinceMs()) / 1000) + " s";
            return "sending " + std::to_string(m_send->sentCount()) + " of " +
                   std::to_string(m_send->totalLength()) + " (" + file + ")";
        }
        case Phase::Done: break;
    }
    return "stopped";
}

}  // namespace fbx::shop
