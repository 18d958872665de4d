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

// Leading and trailing spaces of the whole text are not sent. In place: the
// text may be as large as the program.
bool trimSpaces(std::string& text) {
    const size_t size = text.size();
    const size_t end = text.find_last_not_of(' ');
    if (end == std::string::npos) {
        text.clear();
    } else {
        text.erase(end + 1);
        text.erase(0, text.find_first_not_of(' '));
    }
    return text.size() != size;
}

bool holdsOnlySpaces(const std::string& text) {
    return text.find_first_not_of(' ') == std::string::npos;
}

// Whether any character of the text triggers a rule.
bool anyTrigger(const RuleTable& rules, const std::string& text) {
    if (rules.empty()) return false;
    for (char c : text) {
        if (rules.match(static_cast<std::uint8_t>(c)) >= 0) return true;
    }
    return false;
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
    // One copy of the program when no processing string changes it.
    if (anyTrigger(m_rules, fileText)) m_sendBuffer = ApplyRulesOnSend(m_rules, fileText);
    else m_sendBuffer = std::move(fileText);
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
    if (m_dwellActive == 1) m_resumeRequested = 1;
    // "Keep on" pressed before the hold has begun changes nothing: the hold
    // still begins at the next line end.
    if (m_transferRunning == 0) {
        if (holdsOnlySpaces(m_sendBuffer)) {
            nothingToSend();
            return;
        }
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
    // A run in flight ends at its next pass and shows what it really sent.
    if (m_phase != Phase::Sending) m_sentCount = 0;
    m_abortRequested = 1;
    m_transferRunning = m_statsFrozen = m_poll.startSignal = m_transferFinished = 0;
    m_dwellActive = m_holdRequested = m_resumeRequested = 0;
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
    const bool whole = m_sendPosition > m_totalLength && m_stopRequested == 0 && m_abortRequested == 0;
    if (m_abortRequested == 0) m_transferFinished = 1;
    // What really went out, not what was meant to.
    const std::int64_t sent = whole ? m_totalLength : m_sentCount;
    m_view.setText(Element::AmountSent, std::to_string(sent));
    m_view.setText(Element::Amount, std::to_string(m_totalLength));
    m_view.setText(Element::WordsPerSecond, "0");
    m_view.setProgress(m_totalLength, sent);
}

void SendEngine::afterLoop() {
    if (m_stopRequested == 1) {
        closeWindow();
        return;
    }
    if (m_transferFinished == 1 && m_abortRequested == 0 && m_sendPosition > m_totalLength) {
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
    m_view.setText(Element::AmountSent, std::to_string(m_sentCount));
    m_view.setText(Element::WordsPerSecond, "0");
    m_view.setProgress(m_totalLength, m_sentCount);
    m_view.setEnabled(Element::ResendButton, false);
    m_view.setVisible(Element::ResendButton, false);
    reportPortLost();
}

void SendEngine::nothingToSend() {
    m_view.setVisible(Element::StatusLine, true);
    m_view.setText(Element::StatusLine, texts::kNothingSent);
    m_view.setText(Element::AmountSent, "0");
    m_view.setProgress(0, 0);
    m_outcome = Outcome::NothingSent;
}

bool SendEngine::finishingDwell() const {
    if (m_stopRequested == 0 || m_abortRequested != 0) return false;
    if (m_dwellActive != 1 || m_dwellIndex == 1) return false;
    // A line held for a second stops the send anyway.
    const bool held = m_lineState == LineState::HeldByMachine || m_lineState == LineState::WaitingForDsr;
    return !(held && m_clock.nowMs() - m_lineStateSinceMs >= 1000);
}

void SendEngine::updateLineState() {
    LineState state = LineState::Idle;
    if (!closed() && m_phase == Phase::Waiting) state = LineState::WaitingForDc1;
    else if (!closed() && m_phase == Phase::Sending) {
        state = m_poll.xoffHold == 1 ? LineState::HeldByMachine
              : m_poll.lineHold == 1 ? LineState::WaitingForDsr
                                     : LineState::Free;
    }
    const std::int64_t now = m_clock.nowMs();
    if (state != m_lineState) {
        m_lineState = state;
        m_lineStateSinceMs = now;
        m_lineStateShownSeconds = 0;
        m_view.showLineState(state, 0);
        return;
    }
    if (state == LineState::Idle) return;
    const std::int64_t seconds = (now - m_lineStateSinceMs) / 1000;
    if (seconds != m_lineStateShownSeconds) {
        m_lineStateShownSeconds = seconds;
        m_view.showLineState(state, seconds);
    }
}

StepResult SendEngine::doStep() {
    StepResult result = runPhase();
    updateLineState();
    return result;
}

StepResult SendEngine::runPhase() {
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
    if ((m_stopRequested != 0 || m_abortRequested != 0) && !finishingDwell()) return false;
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
    bool sentCR = false, sentLF = false;
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
            if (m_code == kCR) sentCR = true;
            else if (m_code == kLF) sentLF = true;
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
    if (m_holdRequested == 1 && m_dwellActive == 0) {
        // The hold begins at a line end: after a CR, or after the LF right
        // behind it, or after a lone LF.
        const bool lfNext = m_sendPosition <= m_totalLength &&
                            m_sendBuffer[static_cast<size_t>(m_sendPosition - 1)] == '\n';
        if ((sentCR && !lfNext) || sentLF) startDwell();
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
