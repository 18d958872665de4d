// Opens a large NC program in the editor window and, as the peer, in a
// QPlainTextEdit, each in a process of its own, and prints the time until
// the first lines are painted, the time until the whole text is in, and the
// peak memory, with the ratios. Then numbers the program in the editor window
// and prints the longest time the window's event loop went without a turn,
// beside the time of the same numbering done at once without a window.
//
//   editor_open_bench FILE
//
// Run it offscreen (QT_QPA_PLATFORM=offscreen) or under xvfb-run.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <Qsci/qsciscintilla.h>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "AppContext.h"
#include "ConfigFile.h"
#include "EditorWindow.h"
#include "Numbering.h"
#include "Prompts.h"

namespace {

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// Answers the editor's open dialog with the program and every box with OK.
class BenchPrompts : public fbx::ui::PromptHandler {
public:
    QString path;
    QElapsedTimer* clock = nullptr;
    fbx::Answer ask(QWidget*, const fbx::Message&) override { return fbx::Answer::Ok; }
    QString openFileName(QWidget*, const fbx::ui::FileQuestion&) override {
        clock->start();  // the operator has picked the file
        return path;
    }
    QString saveFileName(QWidget*, const fbx::ui::FileQuestion&) override { return {}; }
    bool preparePrinter(QWidget*, QPrinter&, const QString&, bool, const QString&) override {
        return false;
    }
};

// Reports the first paint of a widget that shows text.
class FirstPaint : public QObject {
public:
    std::function<bool()> hasText;
    qint64 at = -1;
    QElapsedTimer* clock = nullptr;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && at < 0 && hasText()) at = clock->nsecsElapsed();
        return false;
    }
};

void WaitFor(const std::function<bool()>& done) {
    while (!done()) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

int MeasureEditor(const QString& path) {
    QElapsedTimer clock;
    BenchPrompts prompts;
    prompts.path = path;
    prompts.clock = &clock;
    fbx::ui::setPromptHandler(&prompts);
    fbx::ui::AppContext app;
    app.settings.serialInterval = "10";
    app.editorOpen = 1;
    auto* editor = new fbx::ui::EditorWindow(app);
    FirstPaint paint;
    paint.clock = &clock;
    paint.hasText = [&] { return editor->textArea()->SendScintilla(QsciScintillaBase::SCI_GETLENGTH) > 0; };
    editor->textArea()->viewport()->installEventFilter(&paint);
    qint64 loadedAt = -1;
    QObject::connect(editor, &fbx::ui::EditorWindow::programLoaded, [&] { loadedAt = clock.nsecsElapsed(); });
    editor->show();
    WaitFor([&] { return loadedAt >= 0 && paint.at >= 0; });
    std::printf("first=%.3f whole=%.3f peak=%ld\n", paint.at / 1e9, loadedAt / 1e9, PeakKiB());

    // The caret to the end of the program and the last lines painted.
    QElapsedTimer endClock;
    endClock.start();
    editor->textArea()->SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
    editor->textArea()->viewport()->repaint();
    std::printf("end=%.3f\n", endClock.nsecsElapsed() / 1e9);

    // Numbering in the window, with a zero-interval timer that notes how
    // long the event loop goes without a turn.
    QElapsedTimer numberClock;
    qint64 last = 0, longest = 0;
    QTimer beat;
    beat.setInterval(0);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        qint64 now = numberClock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    bool finished = false;
    QObject::connect(editor, &fbx::ui::EditorWindow::numberingFinished, [&] { finished = true; });
    numberClock.start();
    beat.start();
    editor->NumberLines();
    WaitFor([&] { return finished; });
    qint64 numberTime = numberClock.nsecsElapsed();
    beat.stop();
    std::string numbered = editor->programText();

    std::string text;
    fbx::readWholeFile(QFile::encodeName(path).toStdString(), text);
    QElapsedTimer coreClock;
    coreClock.start();
    fbx::editor::NumberingResult once = fbx::editor::NumberProgram(text, 10);
    qint64 coreTime = coreClock.nsecsElapsed();
    std::printf("number=%.3f stall=%.3f core=%.3f same=%d\n", numberTime / 1e9, longest / 1e9,
                coreTime / 1e9, once.numberedText == numbered ? 1 : 0);
    editor->close();
    fbx::ui::setPromptHandler(nullptr);
    return 0;
}

int MeasurePlain(const QString& path) {
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return 1;
    QPlainTextEdit edit;
    edit.resize(800, 600);
    FirstPaint paint;
    paint.clock = &clock;
    paint.hasText = [&] { return !edit.document()->isEmpty(); };
    edit.viewport()->installEventFilter(&paint);
    edit.setPlainText(QString::fromLatin1(file.readAll()));
    qint64 loadedAt = clock.nsecsElapsed();
    edit.show();
    WaitFor([&] { return paint.at >= 0; });
    std::printf("first=%.3f whole=%.3f peak=%ld\n", paint.at / 1e9, loadedAt / 1e9, PeakKiB());
    QElapsedTimer endClock;
    endClock.start();
    edit.moveCursor(QTextCursor::End);
    edit.viewport()->repaint();
    std::printf("end=%.3f\n", endClock.nsecsElapsed() / 1e9);
    return 0;
}

// "key=value key=value" from a child's output.
double Field(const QString& output, const QString& key) {
    for (const QString& word : output.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        if (word.startsWith(key + "=")) return word.mid(key.size() + 1).toDouble();
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "--measure")) {
        QApplication app(argc, argv);
        QString path = QString::fromLocal8Bit(argv[3]);
        return !std::strcmp(argv[2], "editor") ? MeasureEditor(path) : MeasurePlain(path);
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: editor_open_bench FILE\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    auto run = [&](const char* what) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--measure", what, QString::fromLocal8Bit(argv[1])});
        child.waitForFinished(-1);
        return QString::fromUtf8(child.readAllStandardOutput());
    };
    QString editor = run("editor");
    QString plain = run("plain");
    auto line = [](const char* what, double mine, double peer, const char* unit) {
        std::printf("%-42s %10.3f %s   QPlainTextEdit %10.3f %s   ratio %.2f\n", what, mine, unit, peer,
                    unit, mine > 0 ? peer / mine : 0.0);
    };
    line("editor open, first lines painted", Field(editor, "first"), Field(plain, "first"), "s");
    line("editor open, whole text in", Field(editor, "whole"), Field(plain, "whole"), "s");
    line("editor caret to the end, painted", Field(editor, "end"), Field(plain, "end"), "s");
    line("editor open, peak memory", Field(editor, "peak") / 1024, Field(plain, "peak") / 1024, "MiB");
    std::printf("%-42s %10.3f s   at once, no window %7.3f s   ratio %.2f   (same text: %s)\n",
                "editor numbering, whole pass", Field(editor, "number"), Field(editor, "core"),
                Field(editor, "number") > 0 ? Field(editor, "core") / Field(editor, "number") : 0.0,
                Field(editor, "same") == 1 ? "yes" : "NO");
    std::printf("%-42s %10.3f s   (goal: at most 0.020 s)\n", "editor numbering, longest event-loop gap",
                Field(editor, "stall"));
    return 0;
}
