#pragma once

#include <cstdint>
#include <string>

#include "TransferView.h"

namespace fbx::cli {

// The transfer window on a terminal: the status line, the questions and the
// system's texts go to standard error as they change, the statistics at most
// once a second. Questions are answered OK/Yes when the operator said --yes;
// otherwise a question that needs an answer is printed, answered with its
// negative button, and remembered so that the command can end.
class CliView : public TransferView {
public:
    CliView(bool yes, bool sending) : m_yes(yes), m_sending(sending) {}

    void setText(Element element, const std::string& text) override;
    void setVisible(Element, bool) override {}
    void setEnabled(Element, bool) override {}
    void setProgress(std::int64_t maximum, std::int64_t value) override;
    void loadText(const std::string&) override {}
    void highlightHeldLine(std::int64_t) override {}
    void showReceived(const std::string&) override {}
    void showLineState(LineState state, std::int64_t seconds) override;
    Answer ask(const Message& message) override;
    std::string chooseFile(const std::string& title, const std::string& filter) override;
    void closeWindow() override { m_closed = true; }

    bool unanswered() const { return m_unanswered; }
    const std::string& status() const { return m_status; }
    // Prints the statistics line if a second has passed since the last.
    void flushStatistics(bool force = false);

private:
    bool m_yes;
    bool m_sending;
    bool m_unanswered = false;
    bool m_closed = false;
    std::string m_status;
    std::string m_amount, m_sent, m_rate, m_elapsed, m_remaining, m_line;
    std::int64_t m_progressMax = 0, m_progressValue = 0;
    bool m_dirty = false;
    std::int64_t m_lastPrintMs = 0;
};

// Texts with CR LF or CR line breaks, printed on one line each.
std::string printable(const std::string& text);

}  // namespace fbx::cli
