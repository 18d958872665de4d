#include <Qsci/qsciscintilla.h>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

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

// The status labels: line count, caret line, caret position.
QString Labels(QWidget* window) {
    QStringList texts;
    for (const char* name : {"Label2", "Label5", "Label1"}) {
        auto* label = window->findChild<QLabel*>(name);
        texts << (label ? label->text() : QString("(no %1)").arg(name));
    }
    return texts.join(' ');
}

// Presses a toolbar button, named as its action.
void Press(EditorWindow* editor, const char* key) {
    QAction* action = editor->findChild<QAction*>(key);
    QVERIFY2(action, key);
    action->trigger();
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
    for (int i = 0; i < lines; ++i)
        text += "G01 X" + std::to_string(i) + " Y" + std::to_string(i % 97) + "\r\n";
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
        if (!QTest::qWaitFor([&] { return prompts->fileQuestions.size() > before; }, 5000))
            qWarning("the open dialog did not come up");
        if (!QTest::qWaitFor([&] { return !editor->isBusy(); }, 20000))
            qWarning("the file did not load");
        return editor;
    }

    QString File(const char* name) { return QString::fromStdString(dir->file(name)); }

private slots:
    void initTestCase() {
        // What file dialogs remember goes to a test location, not the user's.
        QStandardPaths::setTestModeEnabled(true);
    }
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

    void openDialogComesUpAfter100MsAndEveryByteIsLoadedAndSaved() {
        std::string bytes = "%\r\nO0001 (";
        for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
        bytes += ")\r\nM30\r\n%";
        QVERIFY(writeWholeFile(dir->file("all.nc"), bytes).isOk());
        prompts->openNames.push_back(File("all.nc"));

        app.editorOpen = 1;
        QPointer<EditorWindow> editor = new EditorWindow(app);
        editor->show();
        QCoreApplication::processEvents();
        QVERIFY(prompts->fileQuestions.empty());
        auto* timer2 = editor->findChild<QTimer*>("Timer2");
        QVERIFY(timer2 && timer2->isActive() && timer2->isSingleShot());
        QCOMPARE(timer2->interval(), 100);

        QTRY_COMPARE(prompts->fileQuestions.size(), std::size_t(1));
        QTRY_VERIFY(!editor->isBusy());
        QCOMPARE(editor->programText(), bytes);
        QCOMPARE(editor->windowTitle(), File("all.nc"));

        // Saved back, every byte is the same, followed by CR LF.
        prompts->saveNames.push_back(File("copy.nc"));
        Press(editor, "Save1");
        QVERIFY(prompts->asked.empty());
        QCOMPARE(test::fileBytes(dir->file("copy.nc")), bytes + "\r\n");

        // Saving over it asks first.
        editor->setProgramText("G01 X5");
        prompts->saveNames = {File("copy.nc"), File("copy.nc")};
        prompts->answers = {Answer::Cancel, Answer::Ok};
        editor->SaveProgramAs();
        QCOMPARE(prompts->texts(),
                 std::vector<std::string>{"re-write or not ?\r\n" + dir->file("copy.nc")});
        QCOMPARE(prompts->asked[0].buttons, Buttons::OkCancel);
        QCOMPARE(test::fileBytes(dir->file("copy.nc")), bytes + "\r\n");
        editor->SaveProgramAs();
        QCOMPARE(test::fileBytes(dir->file("copy.nc")), std::string("G01 X5\r\n"));
    }

    void openingAMissingOrUnreadableFileSaysSoAndLeavesTheTextEmpty() {
        prompts->openNames.push_back(File("none.nc"));
        EditorWindow* editor = OpenEditor();
        QCOMPARE(prompts->texts(), std::vector<std::string>{"Data empty opennev file?"});
        QCOMPARE(prompts->asked[0].icon, Icon::Stop);
        QCOMPARE(editor->programText(), std::string());

        prompts->openNames.push_back(QString::fromStdString(dir->path()));  // a folder
        Press(editor, "Open1");
        QCOMPARE(prompts->asked.size(), std::size_t(2));
        QCOMPARE(prompts->asked[1].icon, Icon::Stop);
        QVERIFY(!editor->isBusy());
    }

    void statusLabelsCountLinesFromOneAndCaretFromZero() {
        EditorWindow* editor = OpenEditor();
        QTRY_COMPARE(Labels(editor), QString("1 0 0"));
        editor->setProgramText("AB\r\nCD\r\nEF");
        editor->textArea()->SendScintilla(Sci::SCI_GOTOPOS, 5UL);
        QTRY_COMPARE(Labels(editor), QString("3 1 5"));
    }

    void printsTheSelectionOrTheWholeText() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("G00 X11 Y12\r\nG01 Z-33 F440\r\nM30\r\n");
        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 13UL, 26L);  // the second line
        prompts->printTo = File("selection.pdf");
        Press(editor, "Print1");
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
        QVERIFY2(
            text.contains("G00 X11 Y12") && text.contains("G01 Z-33 F440") && text.contains("M30"),
            qPrintable(text));

        prompts->printTo = File("cancelled.pdf");
        prompts->printAccepted = false;
        editor->PrintProgram();
        QVERIFY(!QFile::exists(File("cancelled.pdf")));
    }

    void thePrintDialogOffersAPdfFileWithoutAnyPrinter() {
        QPrinter printer;
        QPrintDialog dialog(&printer);
        setUpPrintDialog(dialog, "print", false);
        dialog.show();
        QStringList destinations;
        for (QComboBox* list : dialog.findChildren<QComboBox*>())
            for (int i = 0; i < list->count(); ++i) destinations << list->itemText(i);
        dialog.close();
        QVERIFY2(destinations.contains("Print to File (PDF)"), qPrintable(destinations.join(", ")));
    }

    void aLargeFileLoadsAndIsNumberedInSlicesBehindTheNoticeAsOneUndoableStep() {
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
        QCOMPARE(Labels(editor), QString("1200001 0 0"));
        editor->UndoEdit();  // the load is no edit
        QVERIFY(editor->programText() == program);

        int turns = 0;
        QTimer beat;
        beat.setInterval(0);
        connect(&beat, &QTimer::timeout, [&] { ++turns; });
        beat.start();
        QSignalSpy finished(editor, &EditorWindow::numberingFinished);
        Press(editor, "NNumber");
        QVERIFY(editor->textArea()->isHidden());
        QVERIFY(editor->findChild<QLabel*>("Label4")->isVisible());
        QVERIFY(!editor->findChild<QToolBar*>("tbToolBar")->isEnabled());
        editor->NumberLines();  // a second press does nothing
        QVERIFY(finished.wait(60000));
        // Back to the event loop many times, not once per line.
        QVERIFY2(turns >= 2 && turns < 100000, qPrintable(QString::number(turns)));
        QVERIFY(editor->programText() == editor::NumberProgram(program, 10).numberedText);
        QVERIFY(editor->textArea()->isVisible());
        QVERIFY(editor->findChild<QToolBar*>("tbToolBar")->isEnabled());
        QVERIFY(prompts->asked.empty());
        QCOMPARE(finished.count(), 1);
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
        QCOMPARE(
            prompts->texts(),
            std::vector<std::string>{
                "Beqinning of line N \r\nserial number can't set up\r\nN位於7\r\n  N20 G01\r\n"});
        QCOMPARE(editor->programText(), program);
        QVERIFY(editor->textArea()->isVisible());
        QVERIFY(!editor->isBusy());
    }

    void searchDialogFindsWordsInTheTextAsItWasWhenItOpened() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("O0001\r\nG00 X0 Y0\r\ng01 z-1\r\nG01 Z-1 F100\r\nG01 X50\r\nM30");
        Press(editor, "Preview1");
        SearchDialog* dialog = editor->searchDialog();
        QVERIFY(dialog);
        QTRY_VERIFY(!editor->findChild<QTimer*>("Timer4")->isActive());
        dialog->searchButton()->click();  // no word yet
        QCOMPARE(prompts->texts(), std::vector<std::string>{"Data empty search"});

        dialog->wordBox()->setText("g01");
        dialog->searchButton()->click();
        QCOMPARE(dialog->searchButton()->text(), QString("next"));
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("28"));
        QCOMPARE(dialog->lineLabel()->text(), QString("4"));
        QCOMPARE(dialog->contextBox()->toPlainText(),
                 QString("G00 X0 Y0\ng01 z-1\nG01 Z-1 F100\nG01 X50\nM30"));
        QCOMPARE(editor->textArea()->SendScintilla(Sci::SCI_GETSELECTIONSTART), 27L);
        QCOMPARE(editor->textArea()->SendScintilla(Sci::SCI_GETSELECTIONEND), 30L);

        editor->setProgramText("G01 X9");  // not seen by this dialog
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("42"));
        QCOMPARE(dialog->lineLabel()->text(), QString("5"));
        dialog->wordBox()->setText("G0");  // a new word starts at the top
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("8"));
        QCOMPARE(dialog->contextBox()->toPlainText(),
                 QString("O0001\nG00 X0 Y0\ng01 z-1\nG01 Z-1 F100\n"));

        // A new opening takes a new copy; past its last hit comes "Data end".
        dialog->quitButton()->click();
        QTRY_VERIFY(!editor->searchDialog());
        editor->ShowSearchDialog();
        dialog = editor->searchDialog();
        dialog->wordBox()->setText("G01");
        QTRY_VERIFY(!editor->findChild<QTimer*>("Timer4")->isActive());
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("1"));
        dialog->searchButton()->click();
        QTRY_COMPARE(prompts->asked.size(), std::size_t(2));
        QCOMPARE(prompts->asked[1].text, std::string("Data end"));
        QCOMPARE(dialog->searchButton()->text(), QString("Search"));
    }

    void savingNamesTheFileInTheCaptionAndClearsTheMark() {
        QVERIFY(writeWholeFile(dir->file("o1.nc"), "G00 X1").isOk());
        prompts->openNames.push_back(File("o1.nc"));
        QPointer<EditorWindow> editor = OpenEditor();
        QCOMPARE(editor->windowTitle(), File("o1.nc"));
        QTest::keyClicks(editor->textArea(), "M30 ");
        QCOMPARE(editor->windowTitle(), "*" + File("o1.nc"));
        prompts->saveNames.push_back(File("o2.nc"));
        Press(editor, "Save1");
        QCOMPARE(test::fileBytes(dir->file("o2.nc")), std::string("M30 G00 X1\r\n"));
        QCOMPARE(editor->windowTitle(), File("o2.nc"));
        editor->close();  // nothing unsaved: no question
        QTRY_VERIFY(!editor);
        QVERIFY(prompts->asked.empty());
    }

    void theSaveDialogStartsAtTheOpenFileWithReadableColumns() {
        QVERIFY(writeWholeFile(dir->file("o1.nc"), Program(8000)).isOk());  // "1xx.xx KiB"
        QVERIFY(writeWholeFile(dir->file("notes.txt"), "").isOk());
        prompts->openNames.push_back(File("o1.nc"));
        EditorWindow* editor = OpenEditor();
        prompts->saveNames.push_back("");
        Press(editor, "Save1");
        QCOMPARE(prompts->fileQuestions.size(), std::size_t(2));  // the first open, the save
        const FileQuestion question = prompts->fileQuestions.back();
        QCOMPARE(question.fileName, File("o1.nc"));

        // The dialog the operator then sees, as on a machine where no file
        // dialog has been used before (file dialogs keep their columns).
        QSettings(QSettings::UserScope, "QtProject").remove("FileDialog");
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        setUpFileDialog(dialog, question);
        dialog.show();
        const QString programs = "NC programs (*.nc *.tap *.cnc *.mpf *.txt)";
        QCOMPARE(dialog.nameFilters(), (QStringList{"*.txt (*.txt)", programs, "All files (*)"}));
        QCOMPARE(dialog.selectedNameFilter(), programs);  // the one that shows o1.nc
        QCOMPARE(dialog.selectedFiles(), QStringList{File("o1.nc")});
        auto* view = dialog.findChild<QTreeView*>();
        QVERIFY(view && view->isVisible());
        auto cut = [view] {
            // Cells of size, type and date wider than their column (with
            // the few pixels of margin a cell keeps).
            QStringList cut;
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row)
                for (int column = 1; column < 4; ++column) {
                    const QString text = view->model()->index(row, column, root).data().toString();
                    if (view->fontMetrics().horizontalAdvance(text) + 6 >
                        view->header()->sectionSize(column))
                        cut << text;
                }
            return cut;
        };
        QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 2);
        QTRY_COMPARE(cut(), QStringList());
        QVERIFY(view->header()->sectionSize(0) >
                3 * view->fontMetrics().horizontalAdvance("o1.nc"));
        QVERIFY(view->header()->length() <= view->viewport()->width());  // no column out of sight

        // The open dialog's "*.*" shows programs without an extension too.
        QVERIFY(writeWholeFile(dir->file("O2000"), "G00 X2").isOk());
        QCOMPARE(prompts->fileQuestions.front().filter, QString("*.*|*.*"));
        setUpFileDialog(dialog, {"Open File", "*.*|*.*", QString::fromStdString(dir->path())});
        QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 3);
    }

    void unsavedEditsAreDroppedOnlyWhenTheOperatorSaysSo() {
        prompts->openNames.push_back(File("new.nc"));
        QPointer<EditorWindow> editor = OpenEditor();  // "Data empty opennev file?"
        editor->ShowSearchDialog();
        QPointer<SearchDialog> dialog = editor->searchDialog();
        QTest::keyClicks(editor->textArea(), "G01");
        prompts->asked.clear();

        prompts->answers = {Answer::Cancel};
        Press(editor, "Open1");  // another file would replace the text
        prompts->answers = {Answer::Save, Answer::Cancel};
        prompts->saveNames = {""};  // the save dialog is cancelled
        editor->close();
        QCoreApplication::processEvents();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->programText(), std::string("G01"));
        QCOMPARE(prompts->fileQuestions.size(), std::size_t(2));  // the first open, the save
        QCOMPARE(prompts->texts(), std::vector<std::string>(2, "Save changes to new.nc?"));
        QCOMPARE(prompts->asked[0].buttons, Buttons::SaveDiscardCancel);

        prompts->answers = {Answer::Discard};
        editor->close();
        QTRY_VERIFY(!editor);
        QVERIFY(!dialog);
        QCOMPARE(app.editorOpen, 0);
        QVERIFY(!QFile::exists(File("new.nc")));
    }

    void keysDoWhatTheToolbarButtonsDo() {
        EditorWindow* editor = OpenEditor();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        editor->setProgramText("G01 X1\r\nG01 X2\r\n");
        QWidget* text = editor->textArea();
        QTest::keyClick(text, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
        prompts->printAccepted = false;
        QTest::keyClick(text, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(prompts->printTitle, QString("print"));
        QCOMPARE(prompts->fileQuestions.size(), std::size_t(3));  // the first open, Ctrl+O, Ctrl+S
        QCOMPARE(prompts->fileQuestions[1].title, QString("Open File"));
        QCOMPARE(prompts->fileQuestions[2].title, QString("Save File"));

        QTest::keyClick(text, Qt::Key_F, Qt::ControlModifier);
        SearchDialog* dialog = editor->searchDialog();
        QVERIFY(dialog);
        dialog->wordBox()->setText("G01");
        QTRY_VERIFY(!editor->findChild<QTimer*>("Timer4")->isActive());
        QTest::keyClick(text, Qt::Key_F3);
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("1"));
        QTest::keyClick(dialog->wordBox(), Qt::Key_F3);  // in the dialog as well
        QTRY_COMPARE(dialog->byteLabel()->text(), QString("9"));
        QCOMPARE(editor->programText(), std::string("G01 X1\r\nG01 X2\r\n"));
    }

    void toolbarCutCopyPasteAndUndo() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("G00 X1\r\nM30\r\n");
        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 4UL, 6L);
        QApplication::clipboard()->clear();
        Press(editor, "Copy1");
        QCOMPARE(QApplication::clipboard()->text(), QString("X1"));
        Press(editor, "Cut1");
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30\r\n"));
        editor->textArea()->SendScintilla(Sci::SCI_SETSEL, 9UL, 9L);
        Press(editor, "Paste1");
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30X1\r\n"));
        Press(editor, "Undo1");
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30\r\n"));
    }
};

QTEST_MAIN(EditorWindowTest)
#include "editor_window_test.moc"
