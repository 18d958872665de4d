#pragma once

#include <QPrinter>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "Prompts.h"
#include "ScriptedAnswers.h"

namespace fbx::test {

// Answers the window program's dialogs in a test and records what was asked.
// Installs itself for its lifetime.
class RecordingPrompts : public ui::PromptHandler, public ScriptedAnswers {
public:
    RecordingPrompts() { ui::setPromptHandler(this); }
    ~RecordingPrompts() override { ui::setPromptHandler(nullptr); }

    std::deque<QString> openNames;  // answers of open-file dialogs ("" = cancel)
    std::deque<QString> saveNames;  // answers of save-file dialogs
    std::vector<ui::FileQuestion> fileQuestions;

    // Print dialog: when printTo is set, the printer writes a PDF there.
    QString printTo;
    bool printAccepted = true;
    QString printTitle;
    bool printSelectionOffered = false;

    Answer ask(QWidget*, const Message& m) override { return answer(m); }
    QString openFileName(QWidget*, const ui::FileQuestion& q) override {
        fileQuestions.push_back(q);
        return take(openNames);
    }
    QString saveFileName(QWidget*, const ui::FileQuestion& q) override {
        fileQuestions.push_back(q);
        return take(saveNames);
    }
    bool preparePrinter(QWidget*, QPrinter& printer, const QString& title,
                        bool hasSelection) override {
        printTitle = title;
        printSelectionOffered = hasSelection;
        if (!printTo.isEmpty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(printTo);
        }
        return printAccepted;
    }

    // Texts of the boxes asked so far, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const Message& m : asked) t.push_back(m.text);
        return t;
    }

private:
    static QString take(std::deque<QString>& q) {
        if (q.empty()) return {};
        QString s = q.front();
        q.pop_front();
        return s;
    }
};

}  // namespace fbx::test
