#pragma once

#include <map>
#include <string>
#include <vector>

#include "ScriptedAnswers.h"
#include "TransferView.h"

namespace fbx::test {

// A transfer view that remembers the last text of every element and every
// question asked, and answers from a script (OK / Yes by default).
class RecordingView : public TransferView, public ScriptedAnswers {
public:
    std::map<Element, std::string> text;
    std::vector<std::int64_t> highlights;
    std::vector<std::pair<LineState, std::int64_t>> lineStates;

    std::string operator[](Element e) const { return text.contains(e) ? text.at(e) : ""; }
    std::string status() const { return (*this)[Element::StatusLine]; }
    std::vector<std::string> askedTexts() const {
        std::vector<std::string> t;
        for (const Message& m : asked) t.push_back(m.text);
        return t;
    }

    void setText(Element e, const std::string& t) override { text[e] = t; }
    void setVisible(Element, bool) override {}
    void setEnabled(Element, bool) override {}
    void setProgress(std::int64_t, std::int64_t) override {}
    void loadText(const std::string&) override {}
    void highlightHeldLine(std::int64_t position) override { highlights.push_back(position); }
    void showReceived(const std::string&) override {}
    Answer ask(const Message& m) override { return answer(m); }
    std::string chooseFile(const std::string&, const std::string&) override { return {}; }
    void showLineState(LineState state, std::int64_t seconds) override {
        lineStates.emplace_back(state, seconds);
    }
    void closeWindow() override {}
};

}  // namespace fbx::test
