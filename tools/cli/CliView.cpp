#include "CliView.h"

#include <chrono>
#include <cstdio>

#include "Statistics.h"

namespace fbx::cli {

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const char* iconName(Icon icon) {
    switch (icon) {
        case Icon::Stop: return "stop";
        case Icon::Question: return "question";
        case Icon::Exclamation: return "warning";
        case Icon::Information: return "information";
        case Icon::None: break;
    }
    return "message";
}

}  // namespace

std::string printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += " / ";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            out += " / ";
        } else {
            out += text[i];
        }
    }
    return out;
}

void CliView::setText(Element element, const std::string& text) {
    switch (element) {
        case Element::StatusLine:
            if (text != m_status) {
                m_status = text;
                std::fprintf(stderr, "status: %s\n", text.c_str());
            }
            break;
        case Element::Amount: m_amount = text; break;
        case Element::AmountSent: m_sent = text; m_dirty = true; break;
        case Element::WordsPerSecond: m_rate = text; m_dirty = true; break;
        case Element::Elapsed: m_elapsed = text; break;
        case Element::Remaining: m_remaining = text; break;
        default: break;
    }
    flushStatistics();
}

void CliView::setProgress(std::int64_t maximum, std::int64_t value) {
    m_progressMax = maximum;
    m_progressValue = value;
}

void CliView::flushStatistics(bool force) {
    if (!m_dirty || (m_sending && m_amount.empty())) return;
    const std::int64_t now = nowMs();
    if (!force && now - m_lastPrintMs < 1000) return;
    m_lastPrintMs = now;
    m_dirty = false;
    if (m_sending) {
        std::fprintf(stderr, "sent %s of %s  word/sec %s  time %s  remaining %s%s%s\n",
                     m_sent.c_str(), m_amount.c_str(), m_rate.c_str(), m_elapsed.c_str(),
                     m_remaining.c_str(), m_line.empty() ? "" : "  ", m_line.c_str());
    } else {
        std::fprintf(stderr, "received %s\n", m_rate.c_str());
    }
}

void CliView::showLineState(LineState state, std::int64_t seconds) {
    m_line = state == LineState::Idle ? std::string() : lineStateText(state, seconds);
    if (state != LineState::Idle) m_dirty = true;
    flushStatistics();
}

Answer CliView::ask(const Message& m) {
    flushStatistics(true);
    std::fprintf(stderr, "[%s] %s: %s\n", iconName(m.icon), printable(m.title).c_str(),
                 printable(m.text).c_str());
    if (!m.detail.empty()) std::fprintf(stderr, "    %s\n", printable(m.detail).c_str());
    if (!needsAnswer(m)) return Answer::Ok;
    if (m_yes) {
        std::fprintf(stderr, "    answered %s (--yes)\n", m.buttons == Buttons::YesNo ? "Yes" : "OK");
        return m.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    std::fprintf(stderr, "    this question needs an answer: run again with --yes to answer it\n");
    m_unanswered = true;
    return m.buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

std::string CliView::chooseFile(const std::string& title, const std::string&) {
    std::fprintf(stderr, "[%s] no file can be chosen here\n", title.c_str());
    return {};
}

}  // namespace fbx::cli
