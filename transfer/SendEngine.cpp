#include "SendEngine.h"

#include "ConfigFile.h"
#include "EiaCodes.h"
#include "Statistics.h"
#include "TransferTexts.h"

namespace fbx {

namespace {

constexpr std::uint8_t kCR = 13;
constexpr std::uint8_t kLF = 10;
constexpr size_t kPreviewLength = 1000;
constexpr int kDwellLength = 10;

std::uint8_t upper(std::uint8_t c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// Leading and trailing spaces of the whole text are not sent.
bool trimSpaces(std::string& text) {
    size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) {
        bool changed = !text.empty();
        text.clear();
        return changed;
    }
    size_t end = text.find_last_not_of(' ') + 1;
    if (begin == 0 && end == text.size()) return false;
    text = text.substr(begin, end - begin);
    return true;
}

}  // namespace

std::uint8_t SendEngine::lineCode(std::uint8_t c) const { return ToEiaCode(upper(c), m_eiaMode); }

bool SendEngine::open(std::string fileText) {
    if (!openCommon()) return false;
    resetTransferState();
    std::string preview = fileText.substr(0, std::min(fileText.size(), kPreviewLength));
    prepareSendBuffer(std::move(fileText));
    fillSendLayout();
    m_view.loadText(m_settings.sendingEdit == 1 ? m_sendBuffer : preview);
    if (m_settings.sendingEdit == 0) setTextBoxEnabled(false);
    return true;
}

void SendEngine::resetTransferState() {
    m_totalLength = 0;
    m_sendPosition = 1;
    m_sentCount = 0;
    m_transferFinished = 0;
    m_transferRunning = 0;
    m_port.sio_flush(m_portNumber, FLUSH_BOTH);
    m_stopRequested = m_holdRequested = m_resumeRequested = m_statsFrozen = m_dwellActive = 0;
    m_dwellAfterLf = false;
    m_poll = PollState{};
    m_view.setEnabled(Element::ResendButton, false);
    m_view.setVisible(Element::ResendButton, false);
    if (m_settings.sendingEdit == 1) setTextBoxEnabled(true);
}

void SendEngine::prepareSendBuffer(std::string fileText) {
    for (;;) {
        m_totalLength = static_cast<std::int64_t>(fileText.size());
        if (fileText.size() >= 4) break;
        m_totalLength = 0;
        if (ask(texts::kEmptyPrepared, texts::kSendDataError, Buttons::OkCancel, Icon::Stop) ==
            Answer::Cancel)
            return;  // the window stays open with nothing to send
        resetTransferState();
        std::string path = m_view.chooseFile(texts::kSend, "*.txt");
        if (path.empty()) return;
        Status read = readWholeFile(path, fileText);
        if (!read.isOk()) {
            ask(read.message(), "", Buttons::Ok, Icon::None, true);
            fileText.clear();
        }
    }
    m_view.setVisible(Element::StatusLine, true);
    m_view.setText(Element::StatusLine, texts::kPreparing);
    m_sendBuffer = ApplyRulesOnSend(m_rules, fileText);
    m_totalLength = static_cast<std::int64_t>(m_sendBuffer.size());
    m_view.setText(Element::WordsPerSecond, "0");
}

void SendEngine::fillSendLayout() {
    const std::pair<Element, const char*> captions[] = {
        {Element::Caption0, texts::kWordPerSec},     {Element::Caption1, texts::kAmountSent},
        {Element::Caption2, texts::kAmount},         {Element::Caption3, texts::kSurplus},
        {Element::Caption4, texts::kProcessingTime}, {Element::Caption5, texts::kMaxBit}};
    for (auto [element, text] : captions) {
        m_view.setVisible(element, true);
        m_view.setText(element, text);
    }
    m_view.setVisible(Element::AmountSent, true);
    m_view.setVisible(Element::Amount, true);
    m_view.setText(Element::AmountSent, "0");
    m_view.setText(Element::Remaining, texts::kZeroTime);
    m_view.setText(Element::Elapsed, texts::kZeroTime);
    m_view.setText(Element::MaxBits, "0");
    m_view.setText(Element::Amount, std::to_string(m_totalLength));
    m_view.setVisible(Element::StatusLine, true);
    m_view.setText(Element::StatusLine, texts::kRead);
    m_view.setText(Element::StartButton, texts::kSend);
    m_view.setText(Element::QuitButton, texts::kQuit);
}

void SendEngine::startPressed() {
    if (closed()) return;
    setTextBoxEnabled(false);
    m_abortRequested = 0;
    if (m_transferFinished == 1) {
        closeWindow();
        return;
    }
    if (m_dwellActive == 1) {
        m_resumeRequested = 1;
    } else if (m_holdRequested == 1) {
        // "Keep on" before the hold has begun: the hold is withdrawn and
        // sending simply goes on.
        m_holdRequested = 0;
        m_dwellAfterLf = false;
        m_view.setText(Element::StatusLine, texts::kSendResumed);
        m_view.setText(Element::StartButton, texts::kSend);
        m_view.setText(Element::QuitButton, texts::kHoldOnButton);
    }
    if (m_transferRunning == 0) {
        m_view.transferActive(true);
        m_transferRunning = 1;
        m_view.setVisible(Element::StatusLine, true);
        if (m_transferMode == 0) {
            m_view.setText(Element::StatusLine, texts::kSendStart);
            beginSendLoop();
        } else {
            m_view.setText(Element::StatusLine, texts::kWaitingMachine);
            m_phase = Phase::Waiting;
        }
    }
}

void SendEngine::quitPressed() {
    if (closed()) return;
    if (m_holdRequested == 1) {
        // "Aband on"
        m_stopRequested = 1;
        startCloseTimer();
    }
    if (m_transferFinished == 0) {
        if (m_poll.startSignal == 1 && m_transferMode == 2) {
            m_view.setText(Element::StatusLine, texts::kHoldOn);
            m_view.setText(Element::StartButton, texts::kKeepOn);
            m_view.setText(Element::QuitButton, texts::kAbandOn);
            m_holdRequested = 1;
            if (m_settings.sendingEdit == 1) setTextBoxEnabled(true);
        } else {
            m_transferFinished = 1;
            m_stopRequested = 1;
            startCloseTimer();
        }
    } else {
        closeWindow();
    }
}

void SendEngine::resendPressed() {
    if (closed()) return;
    m_elapsedSeconds = 0;
    m_stopRequested = 0;
    m_lastStatPosition = 0;
    m_view.setText(Element::AmountSent, "0");
    m_view.setText(Element::MaxBits, "0");
    m_view.setText(Element::WordsPerSecond, "0");
    m_view.setText(Element::Remaining, texts::kZeroTime);
    m_view.setText(Element::Elapsed, texts::kZeroTime);
    m_view.setText(Element::Amount, std::to_string(m_totalLength));
    m_view.setVisible(Element::StatusLine, true);
    m_view.setText(Element::StatusLine, texts::kReady);
    m_view.setText(Element::StartButton, texts::kSend);
    m_view.setText(Element::QuitButton, texts::kQuit);
    m_sendPosition = 0;
    m_sentCount = 0;
    m_abortRequested = 1;
    m_transferRunning = m_statsFrozen = m_poll.startSignal = m_transferFinished = 0;
    m_dwellActive = m_holdRequested = m_resumeRequested = 0;
    m_dwellAfterLf = false;
    m_view.showReceived("");
    m_port.sio_flush(m_portNumber, FLUSH_BOTH);
    m_view.setEnabled(Element::ResendButton, false);
    m_view.setVisible(Element::ResendButton, false);
    if (m_settings.sendingEdit == 1) setTextBoxEnabled(true);
}

bool SendEngine::closeRequested() {
    m_stopRequested = 1;
    m_passOpen = false;
    closeWindow();
    return true;
}

void SendEngine::abandon() {
    if (closed()) return;
    m_stopRequested = 1;
    m_transferFinished = 1;
    if (m_phase == Phase::Loaded) closeWindow();
}

void SendEngine::beginSendLoop() {
    if (trimSpaces(m_sendBuffer) && m_settings.sendingEdit == 1) m_view.loadText(m_sendBuffer);
    m_totalLength = static_cast<std::int64_t>(m_sendBuffer.size());
    m_elapsedSeconds = 0;
    m_view.setProgress(m_totalLength, 0);
    m_view.setVisible(Element::ProgressBar, true);
    m_sendPosition = 1;
    m_sentCount = 0;
    m_poll.startSignal = 1;
    m_stopRequested = 0;
    m_lastStatPosition = 0;
    setTextBoxEnabled(false);
    m_view.setEnabled(Element::ResendButton, true);
    m_view.setVisible(Element::ResendButton, true);
    m_view.setText(Element::Amount, std::to_string(m_totalLength));
    m_tickSecond = m_clock.nowMs() / 1000;
    if (m_transferMode == 2) {
        m_view.setText(Element::QuitButton, texts::kHoldOnButton);
        m_dwellIndex = 1;
    }
    m_phase = Phase::Sending;
    m_passOpen = false;
}

void SendEngine::endSendLoop() {
    m_passOpen = false;
    m_phase = Phase::Loaded;
    if (m_abortRequested == 0) m_transferFinished = 1;
    m_view.setText(Element::AmountSent, std::to_string(m_totalLength));
    m_view.setText(Element::Amount, std::to_string(m_totalLength));
    m_view.setText(Element::WordsPerSecond, "0");
    m_view.setProgress(m_totalLength, m_totalLength);
}

void SendEngine::afterLoop() {
    if (m_stopRequested == 1) {
        closeWindow();
        return;
    }
    if (m_transferFinished == 1 && m_abortRequested == 0) {
        m_view.setText(Element::StatusLine, texts::kFinish);
        m_view.setText(Element::StartButton, texts::kFinish);
        m_outcome = Outcome::Finished;
    }
}

void SendEngine::lost() {
    m_passOpen = false;
    m_phase = Phase::Loaded;
    m_transferFinished = 1;
    m_stopRequested = 0;
    // What really went out, not what was meant to.
    const std::int64_t sent = m_sendPosition > 0 ? m_sendPosition - 1 : 0;
    m_view.setText(Element::AmountSent, std::to_string(sent));
    m_view.setText(Element::WordsPerSecond, "0");
    m_view.setProgress(m_totalLength, sent);
    m_view.setEnabled(Element::ResendButton, false);
    m_view.setVisible(Element::ResendButton, false);
    reportPortLost();
}

StepResult SendEngine::doStep() {
    StepResult result;
    switch (m_phase) {
        case Phase::Loaded:
            result.waitMs = 50;
            return result;
        case Phase::Waiting: {
            if (m_transferFinished >= 1 || m_stopRequested == 1 || m_abortRequested == 1) {
                m_phase = Phase::Loaded;
                afterLoop();
                result.progressed = true;
                return result;
            }
            int n = PollPort(m_port, m_portNumber, m_settings.handshake == "Brix", m_poll);
            if (n == SIO_PORTLOST) {
                lost();
                result.progressed = true;
                return result;
            }
            if (m_poll.startSignal == 1) {
                m_view.setText(Element::StatusLine, texts::kSendStart);
                beginSendLoop();
                result.progressed = true;
                return result;
            }
            result.progressed = n > 0;
            result.watchPort = true;
            return result;
        }
        case Phase::Sending:
            if (m_passOpen) finishPass(result);
            if (m_phase == Phase::Sending && !beginPass(result)) {
                endSendLoop();
                afterLoop();
                result.progressed = true;
            }
            return result;
    }
    return result;
}

bool SendEngine::beginPass(StepResult& result) {
    if (m_sendPosition > m_totalLength) return false;
    if (m_stopRequested != 0 || m_abortRequested != 0) return false;
    if (m_dwellActive == 0)
        m_code = static_cast<std::uint8_t>(m_sendBuffer[static_cast<size_t>(m_sendPosition - 1)]);
    int n = PollPort(m_port, m_portNumber, m_settings.handshake == "Brix", m_poll);
    if (n == SIO_PORTLOST) {
        lost();
        result.progressed = true;
        return true;
    }
    if (n > 0) result.progressed = true;
    m_passOpen = true;
    return true;
}

void SendEngine::finishPass(StepResult& result) {
    m_passOpen = false;
    const bool held = m_poll.xoffHold == 1 || m_poll.lineHold == 1;
    bool sentCR = false;
    if (!held && m_dwellActive == 0) {
        int rc = put(lineCode(m_code));
        if (rc == SIO_PORTLOST) {
            lost();
            return;
        }
        if (rc == SIO_OK) {
            ++m_sendPosition;
            ++m_sentCount;
            result.progressed = true;
            if (m_code == kCR) {
                sentCR = true;
            } else if (m_code == kLF && m_dwellAfterLf) {
                m_dwellAfterLf = false;
                startDwell();
            }
        }
    } else if (!held && m_dwellActive == 1) {
        auto c = static_cast<std::uint8_t>(texts::kDwellBlock[m_dwellIndex - 1]);
        int rc = put(lineCode(c));
        if (rc == SIO_PORTLOST) {
            lost();
            return;
        }
        if (rc == SIO_OK) {
            result.progressed = true;
            if (m_dwellIndex >= kDwellLength) {
                m_dwellIndex = 0;
                if (m_resumeRequested == 1) endHold();
            }
            ++m_dwellIndex;
        }
    }
    if (m_holdRequested == 1 && m_dwellActive == 0 && sentCR) {
        // The hold begins once the CR, and the LF right behind it, are out.
        if (m_sendPosition <= m_totalLength &&
            m_sendBuffer[static_cast<size_t>(m_sendPosition - 1)] == '\n')
            m_dwellAfterLf = true;
        else
            startDwell();
    }
    const std::int64_t nowSecond = m_clock.nowMs() / 1000;
    if (nowSecond != m_tickSecond && m_abortRequested != 1) secondTick(nowSecond);
    if (held) {
        result.watchPort = true;
        result.waitMs = 5;
    }
}

void SendEngine::startDwell() {
    m_dwellActive = 1;
    if (m_settings.sendingEdit == 1) m_view.highlightHeldLine(m_sendPosition);
}

void SendEngine::endHold() {
    m_resumeRequested = m_holdRequested = m_dwellActive = m_statsFrozen = 0;
    m_view.setText(Element::StatusLine, texts::kSendResumed);
    m_view.setText(Element::StartButton, texts::kSend);
    m_view.setText(Element::QuitButton, texts::kHoldOnButton);
}

void SendEngine::secondTick(std::int64_t nowSecond) {
    if (m_holdRequested == 0) {
        m_tickSecond = nowSecond;
        ++m_elapsedSeconds;
    }
    if (m_statsFrozen == 0 && m_abortRequested == 0) updateStatistics();
    if (m_holdRequested == 1) m_statsFrozen = 1;
}

void SendEngine::updateStatistics() {
    m_view.setText(Element::AmountSent, std::to_string(m_sendPosition));
    m_view.setText(Element::WordsPerSecond, std::to_string(m_sendPosition - m_lastStatPosition));
    m_lastStatPosition = m_sendPosition;
    if (m_settings.sendView == "ON") {
        m_view.setText(Element::Remaining,
                       formatHms(remainingSeconds(m_totalLength, m_sendPosition, m_elapsedSeconds)));
        m_view.setText(Element::Elapsed, formatHms(m_elapsedSeconds));
        m_view.setProgress(m_totalLength, m_sendPosition);
    }
    if (m_abortRequested == 1) {
        m_view.setText(Element::WordsPerSecond, "0");
        m_view.setText(Element::AmountSent, "0");
        m_view.setText(Element::MaxBits, "0");
    }
}

std::int64_t SendEngine::firstEditablePosition() const {
    if (m_settings.sendingEdit != 1 || !m_textBoxEnabled || closed()) return -1;
    return m_sendPosition < 0 ? 0 : m_sendPosition;
}

bool SendEngine::editSendBuffer(std::int64_t position, std::int64_t removeLength,
                                std::string_view text) {
    const std::int64_t first = firstEditablePosition();
    const auto size = static_cast<std::int64_t>(m_sendBuffer.size());
    if (first < 0 || position < first || removeLength < 0 || position > size ||
        removeLength > size - position)
        return false;
    m_sendBuffer.replace(static_cast<size_t>(position), static_cast<size_t>(removeLength), text);
    m_totalLength = static_cast<std::int64_t>(m_sendBuffer.size());
    m_view.setText(Element::Amount, std::to_string(m_totalLength));
    return true;
}

bool SendEngine::replaceUnsent(std::string_view text) {
    const std::int64_t first = firstEditablePosition();
    if (first < 0) return false;
    const auto size = static_cast<std::int64_t>(m_sendBuffer.size());
    const std::int64_t from = first > size ? size : first;
    return editSendBuffer(from, size - from, text);
}

}  // namespace fbx
