#pragma once

#include <string>
#include <vector>

#include "TransferView.h"

namespace fbx::shop {

// The transfer window of a machine nobody watches. Every question is
// answered as an operator who lets the transfer go its way answers it (OK,
// Yes); what the engine said, other than its routine information, is kept
// for the journal.
class ServiceView : public TransferView {
public:
    void setText(Element, const std::string&) override {}
    void setVisible(Element, bool) override {}
    void setEnabled(Element, bool) override {}
    void setProgress(std::int64_t, std::int64_t) override {}
    void loadText(const std::string&) override {}
    void highlightHeldLine(std::int64_t) override {}
    void showReceived(const std::string&) override {}
    std::string chooseFile(const std::string&, const std::string&) override { return {}; }
    void closeWindow() override {}

    Answer ask(const Message& m) override {
        if (m.icon != Icon::Information) {
            std::string said = m.text;
            if (!m.detail.empty()) said += " (" + m.detail + ")";
            for (char& c : said) {
                if (c == '\r' || c == '\n') c = ' ';
            }
            m_said.push_back(said);
        }
        return m.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }

    // What the engine said since the last call, joined with "; ".
    std::string takeSaid() {
        std::string joined;
        for (const std::string& s : m_said) joined += (joined.empty() ? "" : "; ") + s;
        m_said.clear();
        return joined;
    }

private:
    std::vector<std::string> m_said;
};

}  // namespace fbx::shop
