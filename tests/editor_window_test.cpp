#include <Qsci/qsciscintilla.h>
#include <QtPrintSupport>

#include "EditorWindow.h"
#include "Numbering.h"
#include "RecordingPrompts.h"
#include "SearchDialog.h"

using namespace fbx;
using namespace fbx::ui;
using Sci = QsciScintillaBase;

class EditorWindowTest : public QObject, test::WindowWorld {
    Q_OBJECT

    // An editor whose automatic open dialog has come and gone (answered with
    // the queued names, if any), its file in, active.
    EditorWindow* OpenEditor() {
        app.editorOpen = 1;
        auto* editor = new EditorWindow(app);
        editor->show();
        (void)QTest::qWaitFor([&] { return !prompts->fileQuestions.empty() && !editor->isBusy(); },
                              20000);
        (void)QTest::qWaitForWindowActive(editor);
        return editor;
    }
    std::string Bytes(const char* name) { return test::fileBytes(file(name)); }
    void Press(EditorWindow* editor, const char* key) {
        editor->findChild<QAction*>(key)->trigger();
    }
    // The status labels: line count, caret line, caret position.
    QString Labels(QWidget* editor) {
        QStringList texts;
        for (const char* name : {"Label2", "Label5", "Label1"})
            texts << editor->findChild<QLabel*>(name)->text();
        return texts.join(' ');
    }

private slots:
    void init() {
        freshWorld();
        app.settings.serialInterval = "10";
    }
    void cleanup() {
        QList<QPointer<QWidget>> editors;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<EditorWindow*>(w)) editors << w;
        qDeleteAll(editors);
    }

    void theOpenDialogComesAfter100MsAndEveryByteIsKeptAndSavedOnce() {
        std::string bytes = "%\r\nO0001 (";
        for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
        bytes += ")\r\nM30\r\n%";
        write("all.nc", bytes);
        prompts->openNames = {path("all.nc"), path("copy.nc")};
        auto* editor = new EditorWindow(app);
        auto* timer2 = editor->findChild<QTimer*>("Timer2");
        QVERIFY(timer2->isActive() && timer2->isSingleShot() && timer2->interval() == 100);
        QTRY_VERIFY(prompts->fileQuestions.size() == 1 && !editor->isBusy());
        QVERIFY(editor->programText() == bytes && editor->windowTitle() == path("all.nc"));
        // A line end goes after a text without one; saved over (asked first,
        // Cancel writes nothing), a file read back stays as it is.
        prompts->saveNames = {path("copy.nc"), path("copy.nc"), path("copy.nc")};
        prompts->answers = {Answer::Cancel, Answer::Ok};
        editor->SaveProgramAs();
        QVERIFY(prompts->asked.empty() && Bytes("copy.nc") == bytes + "\r\n");
        editor->setProgramText("G01 X5");
        editor->SaveProgramAs();
        QCOMPARE(prompts->texts(),
                 std::vector<std::string>{"re-write or not ?\r\n" + file("copy.nc")});
        Press(editor, "Open1");
        QTRY_VERIFY(!editor->isBusy());
        editor->SaveProgramAs();
        QVERIFY(Bytes("copy.nc") == bytes + "\r\n");
    }

    void printsTheSelectionOrAllWithMarginsAndPageNumbersBesideTheProgram() {
        write("o1.nc", "G00 X11 Y12\r\nG01 Z-33 F440\r\nM30\r\n");
        prompts->openNames = {path("o1.nc")};
        EditorWindow* editor = OpenEditor();
        prompts->printTo = path("printed.pdf");
        QStringList printed;  // the words of each print, after " x>" if further left than 1/2 inch
        for (int round : {0, 1, 2}) {  // the second line, all, cancelled
            editor->textArea()->SendScintilla(Sci::SCI_SETSEL, round ? 0UL : 13UL,
                                              round ? 0L : 26L);
            prompts->printAccepted = round < 2;
            QFile::remove(prompts->printTo);
            Press(editor, "Print1");
            QProcess pdftotext;
            pdftotext.start("pdftotext", {"-bbox", prompts->printTo, "-"});
            pdftotext.waitForFinished(60000);
            QString words = prompts->printSelectionOffered ? "selection:" : "all:";
            const QRegularExpression word("xMin=\"([0-9.]+)\"[^>]*>([^<]+)<");
            for (const auto& m : word.globalMatch(pdftotext.readAllStandardOutput()))
                words += (m.captured(1).toDouble() < 36 ? " x>" : " ") + m.captured(2);
            printed << words;
        }
        QCOMPARE(printed, (QStringList{"selection: G01 Z-33 F440 Page 1 of 1",
                                       "all: G00 X11 Y12 G01 Z-33 F440 M30 Page 1 of 1", "all:"}));
        QCOMPARE(prompts->printPdfName, path("o1.pdf"));
    }

    void thePrintDialogOffersAPdfFileBesideTheProgramWithoutAnyPrinter() {
        QPrinter printer;
        QPrintDialog dialog(&printer);
        setUpPrintDialog(dialog, "print", false, "/nc/o1.pdf");
        dialog.show();
        QStringList destinations;
        for (QComboBox* list : dialog.findChildren<QComboBox*>())
            for (int i = 0; i < list->count(); ++i) destinations << list->itemText(i);
        QVERIFY2(destinations.contains("Print to File (PDF)"), qPrintable(destinations.join(", ")));
        QCOMPARE(dialog.findChild<QLineEdit*>("filename")->text(), QString("/nc/o1.pdf"));
    }

    void aLargeProgramLoadsAndIsNumberedInSlicesAsOneUndoableStep() {
        std::string program;
        for (int i = 0; i < 300000; ++i) program += "G01 X" + std::to_string(i) + " Y1\r\n";
        write("big.nc", program);
        prompts->openNames = {path("none.nc"), path("big.nc")};
        EditorWindow* editor = OpenEditor();  // "Data empty opennev file?"
        QSignalSpy loaded(editor, &EditorWindow::programLoaded);
        editor->OpenProgram();
        QVERIFY(!editor->findChild<QToolBar*>("tbToolBar")->isEnabled());
        editor->SaveProgramAs();  // ignored while loading
        QVERIFY(loaded.wait(60000));
        QVERIFY(editor->programText() == program && prompts->fileQuestions.size() == 2);
        QCOMPARE(prompts->texts(), std::vector<std::string>{"Data empty opennev file?"});

        int turns = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, [&] { ++turns; });
        beat.start(0);
        QSignalSpy finished(editor, &EditorWindow::numberingFinished);
        Press(editor, "NNumber");
        QVERIFY(editor->textArea()->isHidden() &&
                editor->findChild<QLabel*>("Label4")->isVisible());
        editor->NumberLines();  // a second press does nothing
        QVERIFY(finished.wait(60000));
        QVERIFY2(turns >= 2, "back to the event loop while numbering");
        QVERIFY(editor->programText() == editor::NumberProgram(program, 10).numberedText);
        editor->UndoEdit();
        QVERIFY(editor->programText() == program);
        // Refused, with the message, when numbered already.
        editor->setProgramText("G00 X0\r\n  N20 G01\r\nM30\r\n");
        editor->NumberLines();
        QTRY_VERIFY(finished.count() == 2 && editor->textArea()->isVisible());
        QCOMPARE(prompts->texts().back(), std::string("Beqinning of line N \r\nserial number can't "
                                                      "set up\r\nN位於7\r\n  N20 G01\r\n"));
        QCOMPARE(editor->programText(), std::string("G00 X0\r\n  N20 G01\r\nM30\r\n"));
    }

    void theSearchLooksAtTheTextAsItIsAndGoesOnFromTheCaret() {
        EditorWindow* editor = OpenEditor();
        QsciScintilla* text = editor->textArea();
        editor->setProgramText("O0001\r\nG00 X0 Y0\r\ng01 z-1\r\nG01 Z-1 F100\r\nG01 X50\r\nM30");
        QTest::keyClick(text, Qt::Key_F, Qt::ControlModifier);
        SearchDialog* dialog = editor->searchDialog();
        auto found = [dialog] {
            return dialog->byteLabel()->text() + " " + dialog->lineLabel()->text();
        };
        dialog->searchButton()->click();  // no word yet
        QCOMPARE(prompts->texts(), std::vector<std::string>{"Data empty search"});
        dialog->wordBox()->setText("g01");
        dialog->searchButton()->click();
        QCOMPARE(dialog->searchButton()->text(), QString("next"));
        QTRY_COMPARE(found(), QString("28 4"));
        QCOMPARE(dialog->contextBox()->toPlainText(),
                 QString("G00 X0 Y0\ng01 z-1\nG01 Z-1 F100\nG01 X50\nM30"));
        // Typed in on the first line, the caret then put in the hit: the next
        // hit is the one after the caret in the text as it is now.
        text->SendScintilla(Sci::SCI_GOTOPOS, 5UL);
        QTest::keyClicks(text, " (NEW)");
        text->SendScintilla(Sci::SCI_GOTOPOS, 34UL);
        QTest::keyClick(text, Qt::Key_F3);
        QTRY_COMPARE(found(), QString("48 5"));
        QCOMPARE(text->selectedText(), QString("G01"));
        QTest::keyClick(dialog->wordBox(), Qt::Key_F3);  // in the dialog as well: past the last hit
        QTRY_COMPARE(prompts->texts().back(), std::string("Data end"));
        QCOMPARE(dialog->searchButton()->text(), QString("Search"));
        dialog->searchButton()->click();  // after the end, from the top again
        QTRY_COMPARE(found(), QString("34 4"));
    }

    void editsAreDroppedOnlyWhenTheOperatorSaysSo() {
        write("o1.nc", "G00 X1");
        prompts->openNames = {path("o1.nc")};
        QPointer<EditorWindow> editor = OpenEditor();
        editor->ShowSearchDialog();
        QPointer<SearchDialog> dialog = editor->searchDialog();
        QTest::keyClicks(editor->textArea(), "M30 ");
        QCOMPARE(editor->windowTitle(), "*" + path("o1.nc"));
        prompts->answers = {Answer::Cancel, Answer::Save, Answer::Discard};
        prompts->saveNames = {"", path("o2.nc")};  // the first save dialog is cancelled
        Press(editor, "Open1");                    // another file would replace the text
        QTest::keyClick(editor->textArea(), Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(prompts->texts(), std::vector<std::string>(2, "Save changes to o1.nc?"));
        QVERIFY(editor->isVisible() && prompts->asked[0].buttons == Buttons::SaveDiscardCancel);
        Press(editor, "Save1");
        QVERIFY(Bytes("o2.nc") == "M30 G00 X1\r\n" && editor->windowTitle() == path("o2.nc"));
        QTest::keyClick(editor->textArea(), Qt::Key_Z, Qt::ControlModifier);
        editor->setGeometry(60, 70, 500, 400);
        QTest::keyClick(editor->textArea(), Qt::Key_W, Qt::ControlModifier);  // "Discard"
        QTRY_VERIFY(!editor && !dialog);
        QVERIFY(prompts->asked.size() == 3 && app.editorOpen == 0);
        QCOMPARE(OpenEditor()->geometry(), QRect(60, 70, 500, 400));  // where it was last
    }

    void theKeysAndButtonsOfTheToolbar() {
        write("o1.nc", "G00 X1\r\nM30\r\n");
        prompts->openNames = {path("o1.nc")};
        EditorWindow* editor = OpenEditor();
        QsciScintilla* text = editor->textArea();
        prompts->printAccepted = false;
        for (Qt::Key key : {Qt::Key_O, Qt::Key_S, Qt::Key_P})
            QTest::keyClick(text, key, Qt::ControlModifier);
        QStringList asked;
        for (const FileQuestion& question : prompts->fileQuestions)
            asked << question.title + " " + question.fileName;
        QCOMPARE(asked.join('|') + "|" + prompts->printTitle,  // the save dialog at the open file
                 "Open File |Open File |Save File " + path("o1.nc") + "|print");
        text->SendScintilla(Sci::SCI_SETSEL, 4UL, 6L);
        QTRY_COMPARE(Labels(editor), QString("3 0 6"));
        Press(editor, "Copy1");
        QCOMPARE(QApplication::clipboard()->text(), QString("X1"));
        Press(editor, "Cut1");
        text->SendScintilla(Sci::SCI_SETSEL, 9UL, 9L);
        Press(editor, "Paste1");
        QTRY_COMPARE(Labels(editor) + editor->programText().c_str(), "3 1 11G00 \r\nM30X1\r\n");
        Press(editor, "Undo1");
        QCOMPARE(editor->programText(), std::string("G00 \r\nM30\r\n"));
    }
};

QTEST_MAIN(EditorWindowTest)
#include "editor_window_test.moc"
