#include "ReceiveEngine.h"

#include "EiaCodes.h"
#include "PollPort.h"
#include "TransferTexts.h"

namespace fbx {

namespace {
constexpr std::uint8_t kPercent = 37;
constexpr size_t kTailLength = 101;
}  // namespace

bool ReceiveEngine::open(const std::string& targetPath) {
    if (!openCommon()) return false;
    m_file = ReceivedFile(targetPath);
    m_receiveChunk.clear();
    m_pendingText.clear();
    m_receivedTotal = 0;
    m_receiveStarted = false;
    m_receiveStop = 0;
    m_stopRequested = 0;
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
    m_pollFrom = m_clock.nowMs() + kPollDelayMs;
    m_view.transferActive(true);
    return true;
}

bool ReceiveEngine::putControl(std::uint8_t byte) {
    if (put(byte) == SIO_PORTLOST) {
        m_lost = true;
        return false;
    }
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
            ApplyRuleOnReceive(m_rules, code, m_receiveChunk);
            onReceivedCode(code);
        }
        // A read that did not fill the buffer has drained the line.
        if (m_receiveStop == 1 || n < kReadBufferSize) break;
    }
    if (!result.progressed) {
        result.watchPort = true;
        return result;
    }
    if (m_receiveStop != 1 && !m_receiveChunk.empty() && !m_lost && !closed()) {
        // The hand-over, with the machine held meanwhile.
        if (!putControl(19)) return result;
        m_pendingText += m_receiveChunk;
        showReceived();
        m_receiveChunk.clear();
        if (m_pendingText.size() > kAppendThreshold) appendPending();
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
    finalAppend();
    m_view.setVisible(Element::StatusLine, false);
    ask(texts::kReceiveFinish, texts::kReceiveOk, Buttons::Ok, Icon::Information);
    m_receiveStop = 1;
    m_receiveStarted = false;
    if (m_outcome == Outcome::Running) m_outcome = Outcome::Finished;
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

void ReceiveEngine::appendPending() {
    Status st = m_file.append(m_pendingText);
    if (st.isOk()) {
        m_pendingText.clear();
        return;
    }
    if (!m_writeFailureTold) {
        m_writeFailureTold = true;
        ask("The received data cannot be written:\r\n" + st.message() +
                "\r\nIt is kept and written again at the next chance.",
            texts::kReceiveSave, Buttons::Ok, Icon::Exclamation, true);
    }
}

void ReceiveEngine::rescue(const Status& failure, const std::string& text) {
    std::string error;
    m_rescuePath = m_file.rescue(text, error);
    std::string message = "The received program could not be written:\r\n" + failure.message();
    message += m_rescuePath.empty() ? "\r\nIt could not be kept anywhere: " + error
                                    : "\r\nIt was kept in\r\n" + m_rescuePath;
    m_outcome = Outcome::SaveFailed;
    ask(message, texts::kError, Buttons::Ok, Icon::Stop, true);
}

void ReceiveEngine::finalAppend() {
    Status st = m_file.append(m_pendingText);
    if (!st.isOk()) rescue(st, m_pendingText);
    m_pendingText.clear();
}

void ReceiveEngine::finalSaveIncomplete() {
    m_pendingText += m_receiveChunk;
    m_receiveChunk.clear();
    Status st = m_file.saveIncomplete(m_pendingText);
    if (!st.isOk()) rescue(st, m_pendingText + "\r\n");
    m_pendingText.clear();
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
        m_outcome = Outcome::Incomplete;
        finalSaveIncomplete();
    } else {
        ask(texts::kDataSaving, texts::kReceiveSave, Buttons::Ok, Icon::Information);
        m_receiveStop = 1;
        m_outcome = Outcome::Saved;
        m_pendingText += m_receiveChunk;
        m_receiveChunk.clear();
        finalAppend();
    }
    startCloseTimer();
}

void ReceiveEngine::saveAfterLoss() {
    m_lost = false;
    if (m_receiveStarted && m_receiveStop != 1) {
        if (m_transferMode != 0) {
            finalSaveIncomplete();
        } else {
            m_pendingText += m_receiveChunk;
            m_receiveChunk.clear();
            finalAppend();
        }
    }
    m_receiveStop = 1;
    const Outcome saved = m_outcome;
    reportPortLost();
    if (saved == Outcome::SaveFailed) m_outcome = saved;
    startCloseTimer();
}

}  // namespace fbx
