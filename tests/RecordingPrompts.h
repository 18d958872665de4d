#pragma once

#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

#include "AppContext.h"
#include "ConfigFile.h"
#include "ProTool.h"
#include "Prompts.h"
#include "ScriptedAnswers.h"
#include "TempDir.h"

namespace fbx::test {

// The desktop of a window test: answers the window program's dialogs and
// records what was asked, and gives it a fresh directory (dir) in which
// also what the desktop keeps between runs (QSettings) lives. Installs itself
// for its lifetime; make a new one for each test (after the old one went).
class RecordingPrompts : public ui::PromptHandler, public ScriptedAnswers {
public:
    RecordingPrompts() {
        ui::setPromptHandler(this);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(dir.file("config")));
    }
    ~RecordingPrompts() override { ui::setPromptHandler(nullptr); }

    TempDir dir;
    // Answers of open-file and save-file dialogs, in turn ("" or none: cancel).
    QStringList openNames, saveNames;
    std::vector<ui::FileQuestion> fileQuestions;
    // Print dialog: when printTo is set, the printer writes a PDF there.
    QString printTo, printPdfName;
    bool printAccepted = true, printSelectionOffered = false;

    Answer ask(QWidget*, const Message& m) override { return answer(m); }
    QString openFileName(QWidget*, const ui::FileQuestion& q) override {
        return take(q, openNames);
    }
    QString saveFileName(QWidget*, const ui::FileQuestion& q) override {
        return take(q, saveNames);
    }
    bool preparePrinter(QWidget*, QPrinter& printer, const QString&, bool hasSelection,
                        const QString& pdfName) override {
        printPdfName = pdfName;
        printSelectionOffered = hasSelection;
        if (!printTo.isEmpty()) printer.setOutputFileName(printTo);
        return printAccepted;
    }

private:
    QString take(const ui::FileQuestion& q, QStringList& names) {
        fileQuestions.push_back(q);
        return names.isEmpty() ? QString() : names.takeFirst();
    }
};

// What each test of a window suite starts from (freshWorld() in its init()):
// a new desktop whose directory is the current one and the start-up
// directory, and the settings' defaults with their serial codes.
struct WindowWorld {
    std::unique_ptr<RecordingPrompts> prompts;
    ui::AppContext app;

    void freshWorld() {
        prompts.reset();  // before the next installs itself
        prompts = std::make_unique<RecordingPrompts>();
        app = ui::AppContext{};
        app.programDir = prompts->dir.path() + "/";
        app.configPath = prompts->dir.file("ferobrixlan.cfg");
        ProTool(app.settings, app.codes);
        QDir::setCurrent(QString::fromStdString(prompts->dir.path()));
    }
    std::string file(const char* name) const { return prompts->dir.file(name); }
    QString path(const char* name) const { return QString::fromStdString(file(name)); }
    void write(const char* name, const std::string& bytes) const {
        QVERIFY(writeWholeFile(file(name), bytes).isOk());
    }
};

// Runs action, which opens a modal window with exec(): once the window is up,
// closes it, so that action returns. The window's object name; empty when
// none came up.
inline QString closeModal(const std::function<void()>& action) {
    QString name;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        poll.stop();
        name = modal->objectName();
        if (modal->isVisible()) modal->close();
    });
    poll.start(10);
    action();
    return name;
}

}  // namespace fbx::test
