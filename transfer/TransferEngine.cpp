#include "TransferEngine.h"

#include "PollPort.h"
#include "ProTool.h"
#include "TransferTexts.h"

namespace fbx {

namespace {
constexpr std::int64_t kCloseDelayMs = 1000;
}

TransferEngine::TransferEngine(SerialPort& port, Clock& clock, TransferView& view,
                               const Settings& settings, const SerialCodes& codes)
    : m_port(port),
      m_clock(clock),
      m_view(view),
      m_settings(settings),
      m_codes(codes),
      m_portNumber(codes.portNumber) {}

TransferEngine::~TransferEngine() {
    if (m_portOpen) m_port.sio_close(m_portNumber);
}

Answer TransferEngine::ask(const std::string& text, const std::string& title, Buttons buttons,
                           Icon icon, bool beep, const std::string& detail) {
    Message m;
    m.text = text;
    m.title = title;
    m.buttons = buttons;
    m.icon = icon;
    m.beep = beep;
    m.detail = detail;
    return m_view.ask(m);
}

bool TransferEngine::openCommon() {
    const std::string unknown = unknownLineSetting(m_settings);
    switch (openPort(m_port, m_codes, !unknown.empty())) {
        case OpenFailure::PortError:
            ask(kPortErrorText, kSystemWarmTitle, Buttons::Ok, Icon::Stop, false,
                m_port.lastError());
            m_outcome = Outcome::OpenFailed;
            m_closed = true;
            m_view.closeWindow();
            return false;
        case OpenFailure::SettingError:
            m_portOpen = true;
            ask(kSettingErrorText, kSystemWarmTitle, Buttons::Ok, Icon::Stop, false,
                unknown.empty() ? m_port.lastError() : "The line cannot be set to " + unknown);
            m_outcome = Outcome::OpenFailed;
            closeWindow();
            return false;
        case OpenFailure::None: break;
    }
    m_portOpen = true;
    m_eiaMode = m_settings.code == "EIA";
    if (m_settings.mode == "Data In/Out") m_transferMode = 1;
    else if (m_settings.mode == "DNC") m_transferMode = 2;
    else if (m_settings.mode == "NOMAL") m_transferMode = 0;

    ParseProcessingRules(m_settings.ruleTexts(), m_rules, [this](int, int) {
        ask(texts::kDuplicateRule, texts::kReplaceError, Buttons::YesNo, Icon::Stop);
    });
    m_view.setText(Element::KeyHint, texts::kKeyHint);
    return true;
}

void TransferEngine::setTextBoxEnabled(bool enabled) {
    m_textBoxEnabled = enabled;
    m_view.setEnabled(Element::TextBox, enabled);
}

void TransferEngine::closeWindow() {
    if (m_closed) return;
    m_closed = true;
    m_closeAt = -1;
    if (m_portOpen) {
        m_port.sio_close(m_portNumber);
        m_portOpen = false;
    }
    if (m_outcome == Outcome::Running) m_outcome = Outcome::Stopped;
    m_view.transferActive(false);
    m_view.closeWindow();
}

void TransferEngine::startCloseTimer() { m_closeAt = m_clock.nowMs() + kCloseDelayMs; }

void TransferEngine::reportPortLost() {
    m_outcome = Outcome::PortLost;
    m_view.setVisible(Element::StatusLine, true);
    m_view.setText(Element::StatusLine, kPortErrorText);
    ask(kPortErrorText, kSystemWarmTitle, Buttons::Ok, Icon::Stop, false, m_port.lastError());
}

int TransferEngine::put(std::uint8_t byte) { return m_port.sio_putch(m_portNumber, byte); }

StepResult TransferEngine::step() {
    if (m_closed || m_inStep) return {};
    m_inStep = true;
    StepResult result;
    if (m_closeAt >= 0 && m_clock.nowMs() >= m_closeAt) {
        // The close timer's tick.
        m_closeAt = -1;
        onCloseTimer();
        closeWindow();
        result.progressed = true;
    } else {
        result = doStep();
        if (m_closeAt >= 0 && !result.progressed) {
            std::int64_t left = m_closeAt - m_clock.nowMs();
            if (left < result.waitMs) result.waitMs = static_cast<int>(left < 0 ? 0 : left);
        }
    }
    m_inStep = false;
    return result;
}

}  // namespace fbx
