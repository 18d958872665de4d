#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <Qsci/qsciscintilla.h>

#include "AppContext.h"
#include "ConfigFile.h"
#include "EditorWindow.h"
#include "Numbering.h"
#include "RecordingPrompts.h"
#include "SearchDialog.h"
#include "TempDir.h"

using namespace fbx;
using namespace fbx::ui;
using Sci = QsciScintillaBase;

namespace {

std::string Slurp(const QString& path) {
    std::string text;
    readWholeFile(QFile::encodeName(path).toStdString(), text);
    return text;
}

QString LabelText(QWidget* window, const char* name) {
    auto* label = window->findChild<QLabel*>(name);
    return label ? label->text() : QString("(no %1)").arg(name);
}

// The text of a PDF, through pdftotext (poppler-utils) or Ghostscript.
bool PdfText(const QString& pdf, QString& text) {
    const QList<QPair<QString, QStringList>> tools = {
        {"pdftotext", {"-layout", pdf, "-"}},
        {"gs", {"-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=txtwrite", "-sOutputFile=-", pdf}}};
    for (const auto& [program, arguments] : tools) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(5000)) continue;
        process.waitForFinished(60000);
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) continue;
        text = QString::fromUtf8(process.readAllStandardOutput());
        return true;
    }
    return false;
}

// A program of n lines "G01 X<i> Y<i>".
std::string Program(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "G01 X" + std::to_string(i) + " Y" + std::to_string(i % 97) + "\r\n";
    return text;
}

}  // namespace

class EditorWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::RecordingPrompts> prompts;
    std::unique_ptr<test::TempDir> dir;
    AppContext app;

    // An editor whose automatic open dialog has come and gone (answered
    // with the queued names, if any).
    EditorWindow* OpenEditor() {
        app.editorOpen = 1;
        auto* editor = new EditorWindow(app);
        editor->show();
        const std::size_t before = prompts->fileQuestions.size();
        bool expected = QTest::qWaitFor([&] { return prompts->fileQuestions.size() > before; }, 5000);
        if (!expected) qWarning("the open dialog did not come up");
        if (!QTest::qWaitFor([&] { return !editor->isBusy(); }, 20000)) qWarning("the file did not load");
        return editor;
    }

    QString File(const char* name) { return QString::fromStdString(dir->file(name)); }

private slots:
    void init() {
        prompts = std::make_unique<test::RecordingPrompts>();
        dir = std::make_unique<test::TempDir>();
        app = AppContext{};
        app.settings.serialInterval = "10";
    }
    void cleanup() {
        QList<QPointer<EditorWindow>> editors;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* editor = qobject_cast<EditorWindow*>(w)) editors << editor;
        for (const QPointer<EditorWindow>& editor : editors) delete editor.data();
        prompts.reset();
        dir.reset();
    }

    void openDialogComesUpByItselfAndLoadsEveryByte() {
        std::string bytes = "%\r\nO0001 (";
        for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
        bytes += ")\r\nM30\r\n%";
        QVERIFY(writeWholeFile(dir->file("all.nc"), bytes).isOk());
        prompts->openNames.push_back(File("all.nc"));

        app.editorOpen = 1;
        QPointer<EditorWindow> editor = new EditorWindow(app);
        editor->show();
        QCoreApplication::processEvents();
        // Nothing is asked at once: the dialog waits for the 100 ms timer.
        QVERIFY(prompts->fileQuestions.empty());
        auto* timer2 = editor->findChild<QTimer*>("Timer2");
        QVERIFY(timer2 && timer2->isActive() && timer2->isSingleShot());
        QCOMPARE(timer2->interval(), 100);
        QCOMPARE(LabelText(editor, "Label5"), QString("0"));
        QCOMPARE(LabelText(editor, "Label1"), QString("0"));

        QTRY_COMPARE(prompts->fileQuestions.size(), std::size_t(1));
        QCOMPARE(prompts->fileQuestions[0].title, QString("Open File"));
        QCOMPARE(prompts->fileQuestions[0].filter, QString("*.*|*.*"));
        QTRY_VERIFY(!editor->isBusy());
        QCOMPARE(editor->programText(), bytes);
        QCOMPARE(editor->windowTitle(), File("all.nc"));
        // The text area also breaks a line at the lone CR among the bytes.
        QCOMPARE(LabelText(editor, "Label2"), QString("6"));

        // Saved back, every byte is the same, followed by CR LF.
        prompts->saveNames.push_back(File("copy.nc"));
        editor->SaveProgramAs();
        QCOMPARE(Slurp(File("copy.nc")), bytes + "\r\n");
    }

    void openingAMissingFileSaysSoAndLeavesTheTextEmpty() {
        prompts->openNames.push_back(File("none.nc"));
        EditorWindow* editor = OpenEditor();
        QCOMPARE(prompts->asked.size(), std::size_t(1));
        const Message& m = prompts->asked[0];
        QCOMPARE(m.text, std::string("Data empty opennev file?"));
        QCOMPARE(m.title, std::string("Send data error"));
        QCOMPARE(m.icon, Icon::Stop);
        QCOMPARE(m.buttons, Buttons::OkCancel);
        QCOMPARE(editor->windowTitle(), File("none.nc"));
        QCOMPARE(editor->programText(), std::string());

        // A name that exists but cannot be read (a folder) is reported too.
        prompts->openNames.push_back(QString::fromStdString(dir->path()));
        editor->OpenProgram();
        QCOMPARE(prompts->asked.size(), std::size_t(2));
        QCOMPARE(prompts->asked[1].icon, Icon::Stop);
        QVERIFY(!editor->isBusy());
    }

    void saveAddsCrLfAndAsksBeforeReplacingAFile() {
        EditorWindow* editor = OpenEditor();
        editor->setWindowTitle("/prog/o1.nc");
        editor->setProgramText("G00 X0\r\nM30\r\n");

        prompts->saveNames.push_back(File("new.nc"));
        editor->SaveProgramAs();
        QCOMPARE(prompts->fileQuestions.back().title, QString("Save File"));
        QCOMPARE(prompts->fileQuestions.back().filter, QString("*.txt"));
        QCOMPARE(prompts->fileQuestions.back().fileName, QString());
        QVERIFY(prompts->asked.empty());
        QCOMPARE(Slurp(File("new.nc")), std::string("G00 X0\r\nM30\r\n\r\n"));

        editor->setProgramText("G01 X5");
        prompts->saveNames.push_back(File("new.nc"));
        prompts->answers.push_back(Answer::Cancel);
        editor->SaveProgramAs();
        QCOMPARE(prompts->asked.size(), std::size_t(1));
        QCOMPARE(prompts->asked[0].text, "re-write or not ?\r\n" + dir->file("new.nc"));
        QCOMPARE(prompts->asked[0].title, std::string("Save as"));
        QCOMPARE(prompts->asked[0].icon, Icon::Question);
        QCOMPARE(prompts->asked[0].buttons, Buttons::OkCancel);
        QCOMPARE(Slurp(File("new.nc")), std::string("G00 X0\r\nM30\r\n\r\n"));

        prompts->saveNames.push_back(File("new.nc"));
        prompts->answers.push_back(Answer::Ok);
        editor->SaveProgramAs();
        QCOMPARE(Slurp(File("new.nc")), std::string("G01 X5\r\n"));
        QCOMPARE(editor->windowTitle(), QString("/prog/o1.nc"));

        // A cancelled dialog does nothing.
        editor->SaveProgramAs();
        QCOMPARE(prompts->asked.size(), std::size_t(2));
    }

    void statusLabelsCountLinesFromOneAndCaretFromZero() {
        EditorWindow* editor = OpenEditor();
        QTRY_COMPARE(LabelText(editor, "Label2"), QString("1"));
        editor->setProgramText("AB\r\nCD\r\nEF");
        editor->textArea()->SendScintilla(Sci::SCI_GOTOPOS, 5UL);
        QTRY_COMPARE(LabelText(editor, "Label1"), QString("5"));
        QCOMPARE(LabelText(editor, "Label5"), QString("1"));
        QCOMPARE(LabelText(editor, "Label2"), QString("3"));
        editor->textArea()->SendScintilla(Sci::SCI_GOTOPOS, 0UL);
        QTRY_COMPARE(LabelText(editor, "Label1"), QString("0"));
        QCOMPARE(LabelText(editor, "Label5"), QString("0"));
    }

    void toolbarHasTheButtonsInOrder() {
        EditorWindow* editor = OpenEditor();
        auto* bar = editor->findChild<QToolBar*>("tbToolBar");
        QVERIFY(bar);
        QStringList keys, tips;
        for (QAction* action : bar->actions()) {
            keys << action->objectName();
            tips << action->toolTip();
            QVERIFY(!action->icon().isNull());
        }
        QCOMPARE(keys, QStringList({"Open1", "Save1", "Print1", "Cut1", "Copy1", "Paste1", "Undo1",
                                    "Preview1", "NNumber"}));
        QCOMPARE(tips, QStringList({"Open File", "Save File", "Print", "Cut", "Copy", "Paste", "Undo",
                                    "Search", "Made N"}));
    }

    void printsTheSelectionOrTheWholeText() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("G00 X11 Y12\r\nG01 Z-33 F440\r\nM30\r\n");
        // The second line selected.
        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 13UL, 26L);
        prompts->printTo = File("selection.pdf");
        editor->PrintProgram();
        QCOMPARE(prompts->printTitle, QString("print"));
        QVERIFY(prompts->printSelectionOffered);
        QString text;
        if (!PdfText(File("selection.pdf"), text))
            QSKIP("reading the printed PDF needs pdftotext (poppler-utils) or gs (ghostscript)");
        QVERIFY2(text.contains("G01 Z-33 F440"), qPrintable(text));
        QVERIFY2(!text.contains("X11") && !text.contains("M30"), qPrintable(text));

        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 0UL, 0L);
        prompts->printTo = File("all.pdf");
        editor->PrintProgram();
        QVERIFY(!prompts->printSelectionOffered);
        QVERIFY(PdfText(File("all.pdf"), text));
        QVERIFY2(text.contains("G00 X11 Y12") && text.contains("G01 Z-33 F440") && text.contains("M30"),
                 qPrintable(text));

        prompts->printTo = File("cancelled.pdf");
        prompts->printAccepted = false;
        editor->PrintProgram();
        QVERIFY(!QFile::exists(File("cancelled.pdf")));
        QVERIFY(prompts->asked.empty());
    }

    void numbersTheTextBehindTheNoticeAsOneUndoableStep() {
        EditorWindow* editor = OpenEditor();
        const std::string program = "%\r\nG00 X0\r\n\r\n/M01\r\nG01 X5\r\nM30";
        editor->setProgramText(program);
        QSignalSpy finished(editor, &EditorWindow::numberingFinished);
        editor->NumberLines();
        // While the pass runs the notice is seen and the toolbar is off; a
        // second press does nothing.
        QVERIFY(editor->textArea()->isHidden());
        QVERIFY(editor->findChild<QLabel*>("Label4")->isVisible());
        QCOMPARE(editor->findChild<QLabel*>("Label4")->text(), QString::fromUtf8("N序號產生中"));
        QVERIFY(!editor->findChild<QToolBar*>("tbToolBar")->isEnabled());
        editor->NumberLines();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(editor->programText(), std::string("N 0 %\r\nN 10 G00 X0\r\n\r\n/M01\r\nN 20 G01 X5\r\nN 30 M30"));
        QVERIFY(editor->textArea()->isVisible());
        QVERIFY(editor->findChild<QToolBar*>("tbToolBar")->isEnabled());
        QVERIFY(prompts->asked.empty());
        QCOMPARE(finished.count(), 1);

        editor->UndoEdit();
        QCOMPARE(editor->programText(), program);
    }

    void numberingALargeTextLetsTheEventLoopRun() {
        EditorWindow* editor = OpenEditor();
        const std::string program = Program(1000000);  // about 17 MB
        editor->setProgramText(program);
        int turns = 0;
        QTimer beat;
        beat.setInterval(0);
        connect(&beat, &QTimer::timeout, [&] { ++turns; });
        beat.start();
        QSignalSpy finished(editor, &EditorWindow::numberingFinished);
        editor->NumberLines();
        QVERIFY(finished.wait(60000));
        // The pass went back to the event loop many times, not once per line.
        QVERIFY2(turns >= 2 && turns < 100000, qPrintable(QString::number(turns)));
        QVERIFY(editor->programText() == editor::NumberProgram(program, 10).numberedText);
        editor->UndoEdit();
        QVERIFY(editor->programText() == program);
    }

    void numberedTextIsRefusedAndLeftAsItWas() {
        EditorWindow* editor = OpenEditor();
        const std::string program = "G00 X0\r\n  N20 G01\r\nM30\r\n";
        editor->setProgramText(program);
        QSignalSpy finished(editor, &EditorWindow::numberingFinished);
        editor->NumberLines();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(prompts->asked.size(), std::size_t(1));
        const Message& m = prompts->asked[0];
        QCOMPARE(m.title, std::string("serial"));
        QCOMPARE(m.icon, Icon::Stop);
        QCOMPARE(m.text, std::string("Beqinning of line N \r\nserial number can't set up\r\nN位於7\r\n  N20 G01\r\n"));
        QCOMPARE(editor->programText(), program);
        QVERIFY(editor->textArea()->isVisible());
        QVERIFY(!editor->isBusy());
    }

    void largeFileLoadsInPiecesWithTheToolbarOff() {
        const std::string program = Program(1200000);  // about 20 MB
        QVERIFY(writeWholeFile(dir->file("big.nc"), program).isOk());
        EditorWindow* editor = OpenEditor();
        prompts->openNames.push_back(File("big.nc"));
        QSignalSpy loaded(editor, &EditorWindow::programLoaded);
        editor->OpenProgram();
        QVERIFY(editor->isBusy());
        QVERIFY(!editor->findChild<QToolBar*>("tbToolBar")->isEnabled());
        editor->SaveProgramAs();  // ignored while loading
        QVERIFY(loaded.wait(60000));
        QVERIFY(editor->programText() == program);
        QCOMPARE(LabelText(editor, "Label2"), QString("1200001"));
        QVERIFY(prompts->fileQuestions.back().title == "Open File");
        // The load is not an edit that undo takes back.
        editor->UndoEdit();
        QVERIFY(editor->programText() == program);
    }

    void searchDialogFindsWordsInTheTextAsItWasWhenItOpened() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("O0001\r\nG00 X0 Y0\r\ng01 z-1\r\nG01 Z-1 F100\r\nG01 X50\r\nM30");
        editor->ShowSearchDialog();
        SearchDialog* dialog = editor->searchDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QString("numSearch"));
        QCOMPARE(dialog->windowTitle(), QString("Search"));
        QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        QTRY_VERIFY(!editor->findChild<QTimer*>("Timer4")->isActive());

        dialog->searchButton()->click();  // no word yet
        QCOMPARE(prompts->asked.size(), std::size_t(1));
        QCOMPARE(prompts->asked[0].text, std::string("Data empty search"));
        QCOMPARE(prompts->asked[0].icon, Icon::Information);
        QVERIFY(!editor->findChild<QTimer*>("Timer3")->isActive());

        dialog->wordBox()->setText("g01");
        dialog->searchButton()->click();
        QCOMPARE(dialog->searchButton()->text(), QString("next"));
        QVERIFY(editor->findChild<QTimer*>("Timer3")->isActive());
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("28"));
        QCOMPARE(dialog->lineLabel()->text(), QString("4"));
        QCOMPARE(dialog->contextBox()->toPlainText(),
                 QString("G00 X0 Y0\ng01 z-1\nG01 Z-1 F100\nG01 X50\nM30"));
        QCOMPARE(editor->textArea()->SendScintilla(Sci::SCI_GETSELECTIONSTART), 27L);
        QCOMPARE(editor->textArea()->SendScintilla(Sci::SCI_GETSELECTIONEND), 30L);

        // Edits made now are not seen by this dialog.
        editor->setProgramText("G01 G01 G01 G01 G01");
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("42"));
        QCOMPARE(dialog->lineLabel()->text(), QString("5"));

        dialog->searchButton()->click();
        QTRY_COMPARE(prompts->asked.size(), std::size_t(2));
        QCOMPARE(prompts->asked[1].text, std::string("Data end"));
        QCOMPARE(prompts->asked[1].icon, Icon::None);
        QCOMPARE(prompts->asked[1].buttons, Buttons::Ok);
        QCOMPARE(prompts->asked[1].title, programTitle());
        QCOMPARE(dialog->searchButton()->text(), QString("Search"));

        // After the miss, and after a change of the word, the search starts
        // at the top again.
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("28"));
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("42"));
        dialog->wordBox()->setText("G0");
        QCOMPARE(dialog->searchButton()->text(), QString("Search"));
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("8"));
        QCOMPARE(dialog->lineLabel()->text(), QString("2"));
        QCOMPARE(dialog->contextBox()->toPlainText(), QString("O0001\nG00 X0 Y0\ng01 z-1\nG01 Z-1 F100\n"));

        // A new opening takes a new copy.
        dialog->quitButton()->click();
        QTRY_VERIFY(!editor->searchDialog());
        editor->ShowSearchDialog();
        editor->searchDialog()->wordBox()->setText("G01");
        QTRY_VERIFY(!editor->findChild<QTimer*>("Timer4")->isActive());
        editor->searchDialog()->searchButton()->click();
        QTRY_COMPARE(editor->searchDialog()->byteLabel()->text(), QString("1"));
    }

    void closingDropsChangesAndClosesTheSearchDialog() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("G00\r\n");
        editor->textArea()->SendScintilla(Sci::SCI_APPENDTEXT, static_cast<uintptr_t>(3), "X1\n");
        editor->ShowSearchDialog();
        QPointer<SearchDialog> dialog = editor->searchDialog();
        QPointer<EditorWindow> window = editor;
        QCOMPARE(app.editorOpen, 1);
        editor->close();
        QTRY_VERIFY(!window);
        QVERIFY(!dialog);
        QCOMPARE(app.editorOpen, 0);
        QVERIFY(prompts->asked.empty());
    }

    void clipboardAndUndo() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("G00 X1\r\nM30\r\n");
        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 4UL, 6L);
        editor->CopySelection();
        QCOMPARE(QApplication::clipboard()->text(), QString("X1"));
        editor->CutSelection();
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30\r\n"));
        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 9UL, 9L);
        editor->PasteClipboard();
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30X1\r\n"));
        editor->UndoEdit();
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30\r\n"));
        // An empty clipboard pastes nothing and says nothing.
        QApplication::clipboard()->clear();
        editor->PasteClipboard();
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30\r\n"));
        QVERIFY(prompts->asked.empty());
    }
};

QTEST_MAIN(EditorWindowTest)
#include "editor_window_test.moc"
