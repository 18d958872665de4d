#include "ReceiveEngine.h"

#include <algorithm>

#include "EiaCodes.h"
#include "PollPort.h"
#include "TransferTexts.h"

namespace fbx {

namespace {
constexpr std::uint8_t kPercent = 37;
constexpr size_t kTailLength = 101;
}  // namespace

bool ReceiveEngine::open(const std::string& targetPath) {
    ReceivedFile target(targetPath);
    // The target was prepared by the caller; should it have gone meanwhile,
    // it is prepared again rather than lost.
    if (!target.adopt().isOk()) target.prepare();
    return open(std::move(target));
}

bool ReceiveEngine::open(ReceivedFile target, std::int64_t pollDelayMs) {
    m_file = std::move(target);
    if (!openCommon()) {
        m_file.finish();
        return false;
    }
    m_receiveChunk.clear();
    m_pendingText.clear();
    m_receivedTotal = 0;
    m_receiveStarted = false;
    m_receiveStop = 0;
    m_stopRequested = 0;
    m_pendingSinceMs = -1;
    m_lineEndAdded = false;
    m_port.sio_flush(m_portNumber, FLUSH_BOTH);
    m_view.setEnabled(Element::ResendButton, false);
    m_view.setVisible(Element::ResendButton, false);
    m_view.setVisible(Element::Caption0, true);
    m_view.setText(Element::Caption0, texts::kDataReceived);
    m_view.setVisible(Element::StatusLine, true);
    m_view.setText(Element::StatusLine, texts::kReceiveWaiting);
    m_view.setText(Element::StartButton, texts::kFinishing);
    m_view.setText(Element::QuitButton, texts::kQuit);
    if (m_settings.sendingEdit == 0) setTextBoxEnabled(false);
    m_pollFrom = m_clock.nowMs() + pollDelayMs;
    m_lastDataMs = m_pollFrom;
    m_view.transferActive(true);
    return true;
}

void ReceiveEngine::onCloseTimer() {
    m_receiveStop = 1;
    m_file.finish();
}

bool ReceiveEngine::putControl(std::uint8_t byte) {
    const int rc = put(byte);
    if (rc == SIO_PORTLOST) {
        m_lost = true;
        return false;
    }
    if (byte == 17) m_dc1Owed = rc != SIO_OK;
    return true;
}

StepResult ReceiveEngine::doStep() {
    StepResult result;
    if (m_lost) {
        saveAfterLoss();
        result.progressed = true;
        return result;
    }
    if (m_receiveStop == 1 || m_stopRequested == 1) {
        result.waitMs = 50;
        return result;
    }
    if (m_dc1Owed && !putControl(17)) return result;
    const std::int64_t now = m_clock.nowMs();
    if (now < m_pollFrom) {
        result.waitMs = static_cast<int>(std::min<std::int64_t>(m_pollFrom - now, 50));
        return result;
    }
    char buffer[kReadBufferSize];
    for (int reads = 0; reads < kReadsPerHandOver; ++reads) {
        int n = m_port.sio_read(m_portNumber, buffer, kReadBufferSize);
        if (n == SIO_PORTLOST) {
            saveAfterLoss();
            result.progressed = true;
            return result;
        }
        if (n <= 0) break;
        result.progressed = true;
        for (int i = 0; i < n; ++i) {
            auto byte = static_cast<std::uint8_t>(buffer[i]);
            buffer[i] = 0;
            if (m_receiveStop == 1) break;
            const std::uint8_t code = FromEiaCode(byte, m_eiaMode);
            // In the mark modes nothing before the first "%" belongs to the
            // program, however the bytes were split into reads.
            if (m_transferMode != 0 && !m_receiveStarted && code != kPercent) continue;
            if (code != 0) m_receiveChunk += static_cast<char>(code);
            // The mark logic sees the character before any rule's target: a
            // closing "%" ends the program before its rule adds anything.
            onReceivedCode(code);
            if (m_receiveStop != 1) ApplyRuleOnReceive(m_rules, code, m_receiveChunk);
        }
        // A read that did not fill the buffer has drained the line.
        if (m_receiveStop == 1 || n < kReadBufferSize) break;
    }
    if (!result.progressed) {
        // What is pending goes to the disk once it has waited a second, so
        // that a crash or a power loss costs at most that much.
        if (pendingDue(now)) appendPending();
        // An owed DC1 is tried again within a character time or two.
        result.watchPort = !m_dc1Owed;
        if (m_dc1Owed) result.waitMs = 1;
        if (!m_pendingText.empty())
            result.waitMs = static_cast<int>(
                std::clamp<std::int64_t>(m_pendingSinceMs + kQuietWriteMs - now, 1, result.waitMs));
        return result;
    }
    m_lastDataMs = now;
    if (m_receiveStop != 1 && !m_receiveChunk.empty() && !m_lost && !closed()) {
        // The hand-over, with the machine held meanwhile.
        if (!putControl(19)) return result;
        if (m_pendingText.empty()) m_pendingSinceMs = now;
        m_pendingText += m_receiveChunk;
        showReceived();
        m_receiveChunk.clear();
        if (m_pendingText.size() > kAppendThreshold || pendingDue(now)) appendPending();
        if (!putControl(17)) return result;
    }
    return result;
}

void ReceiveEngine::onReceivedCode(std::uint8_t code) {
    if (m_transferMode == 0) {
        m_receiveStarted = true;
    } else if (code == kPercent) {
        onPercentMark();
    }
}

void ReceiveEngine::onPercentMark() {
    if (!m_receiveStarted) {
        size_t first = m_receiveChunk.find('%');
        if (first != std::string::npos) m_receiveChunk.erase(0, first);
        m_receiveStarted = true;
        m_view.setVisible(Element::StatusLine, true);
        m_view.setText(Element::StatusLine, texts::kReceiving);
        return;
    }
    m_pendingText += m_receiveChunk;
    showReceived();
    m_receiveChunk.clear();
    finalSave(false, Outcome::Finished);
    m_view.setVisible(Element::StatusLine, false);
    // The success message only for a program that is whole in its file.
    if (m_outcome == Outcome::Finished)
        ask(texts::kReceiveFinish, texts::kReceiveOk, Buttons::Ok, Icon::Information);
    m_receiveStop = 1;
    m_receiveStarted = false;
    startCloseTimer();
}

void ReceiveEngine::showReceived() {
    m_receivedTotal += static_cast<std::int64_t>(m_receiveChunk.size());
    if (m_settings.receiveView == "ON" && !m_receiveChunk.empty()) {
        const size_t size = m_pendingText.size();
        m_view.showReceived(size < kTailLength ? m_pendingText
                                               : m_pendingText.substr(size - kTailLength));
    }
    m_view.setText(Element::WordsPerSecond, std::to_string(m_receivedTotal));
}

bool ReceiveEngine::pendingDue(std::int64_t now) const {
    return !m_pendingText.empty() && now - m_pendingSinceMs >= kQuietWriteMs;
}

void ReceiveEngine::appendPending() {
    ReceivedFile::Written w = m_file.append(m_pendingText);
    if (w.movedNow) tellMoved();
    m_pendingText.erase(0, w.written);
    // What could not be written is tried again at the next hand-over, or a
    // second later on a quiet line.
    m_pendingSinceMs = m_pendingText.empty() ? -1 : m_clock.nowMs();
    if (w.status.isOk() || m_writeFailureTold) return;
    m_writeFailureTold = true;
    ask("The received data cannot be written:\r\n" + w.status.message() +
            "\r\nIt is kept and written again at the next chance.",
        texts::kReceiveSave, Buttons::Ok, Icon::Exclamation, true);
}

void ReceiveEngine::tellMoved() {
    if (m_movedTold) return;
    m_movedTold = true;
    std::string text = m_file.targetPath() +
                       "\r\nwas removed or replaced during the reception. Everything received "
                       "goes on in\r\n" +
                       m_file.path();
    if (m_file.lostBytes() > 0)
        text += "\r\n" + std::to_string(m_file.lostBytes()) +
                " bytes received before were changed by another program and could not be kept.";
    ask(text, texts::kReceiveSave, Buttons::Ok, Icon::Exclamation, true);
}

void ReceiveEngine::finalSave(bool incomplete, Outcome whole) {
    m_pendingText += m_receiveChunk;
    m_receiveChunk.clear();
    ReceivedFile::Written w =
        incomplete ? m_file.saveIncomplete(m_pendingText) : m_file.append(m_pendingText);
    if (w.movedNow) tellMoved();
    // What the file should have taken, less what it did.
    std::string rest = std::move(m_pendingText);
    if (incomplete) rest += "\r\n";
    m_lineEndAdded = incomplete;
    rest.erase(0, w.written);
    m_pendingText.clear();
    m_pendingSinceMs = -1;
    Status failure = w.status;
    Status flushed = m_file.finish();
    if (failure.isOk() && !flushed.isOk()) failure = flushed;

    m_outcome = whole;
    if (!failure.isOk()) {
        m_outcome = Outcome::SaveFailed;
        std::string message = "The received program could not be written whole:\r\n" +
                              failure.message();
        if (!rest.empty()) {
            std::string error;
            m_rescuePath = m_file.rescue(rest, error);
            const std::int64_t inFile = m_file.size() - 2;
            if (m_rescuePath.empty())
                message += "\r\nThe last " + std::to_string(rest.size()) +
                           " bytes could not be kept anywhere: " + error;
            else
                message += "\r\nThe first " + std::to_string(inFile < 0 ? 0 : inFile) +
                           " bytes are in " + m_file.path() + ", the rest in " + m_rescuePath;
        }
        ask(message, texts::kError, Buttons::Ok, Icon::Stop, true);
    } else if (m_file.lostBytes() > 0) {
        m_outcome = Outcome::SaveFailed;
    } else if (m_file.moved()) {
        m_outcome = Outcome::SavedElsewhere;
    }
}

void ReceiveEngine::startPressed() { quitPressed(); }

void ReceiveEngine::quitPressed() { quit(true); }

void ReceiveEngine::abandon() { quit(false); }

bool ReceiveEngine::closeRequested() {
    if (closed()) return true;
    if (m_receiveStop == 1 || m_stopRequested == 1 || closeTimerRunning()) {
        closeWindow();
        return true;
    }
    quit(true);
    if (m_receiveStop == 1 || m_stopRequested == 1 || closed()) {
        closeWindow();
        return true;
    }
    return false;
}

void ReceiveEngine::quit(bool askFirst) {
    if (closed() || m_receiveStop == 1 || m_stopRequested == 1) return;
    const bool brix = m_settings.handshake == "Brix";
    if (m_receiveStarted) {
        // Hold the sender while the operator decides.
        if (brix) m_port.sio_DTR(m_portNumber, 0);
        else if (!putControl(19)) return;
    }
    if (askFirst &&
        ask(texts::kQuitReceiving, texts::kLever, Buttons::OkCancel, Icon::Exclamation) ==
            Answer::Cancel) {
        putControl(17);
        m_port.sio_DTR(m_portNumber, 1);
        return;
    }
    if (!m_receiveStarted) {
        m_stopRequested = 1;
        m_outcome = Outcome::Stopped;
        startCloseTimer();
        return;
    }
    if (m_transferMode != 0) {
        ask(texts::kReceiveIncomplete, texts::kError, Buttons::Ok, Icon::Stop);
        m_receiveStop = 1;
        finalSave(true, Outcome::Incomplete);
    } else {
        ask(texts::kDataSaving, texts::kReceiveSave, Buttons::Ok, Icon::Information);
        m_receiveStop = 1;
        finalSave(false, Outcome::Saved);
    }
    startCloseTimer();
}

void ReceiveEngine::saveAfterLoss() {
    m_lost = false;
    Outcome saved = Outcome::Running;
    if (m_receiveStarted && m_receiveStop != 1) {
        finalSave(m_transferMode != 0, Outcome::PortLost);
        saved = m_outcome;
    }
    m_receiveStop = 1;
    reportPortLost();
    if (saved == Outcome::SaveFailed || saved == Outcome::SavedElsewhere) m_outcome = saved;
    startCloseTimer();
}

}  // namespace fbx
