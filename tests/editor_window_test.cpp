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
                              60000);
        (void)QTest::qWaitForWindowActive(editor);
        return editor;
    }
    void Key(EditorWindow* editor, Qt::Key key) {
        QTest::keyClick(editor->textArea(), key, Qt::ControlModifier);
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

    void everyByteIsKeptAndALineEndIsAddedOnlyWhereItIsMissing() {
        std::string bytes = "%\r\nO0001 (";
        for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
        bytes += ")\r\nM30\r\n%";
        write("all.nc", bytes);
        prompts->openNames = {path("all.nc"), path("copy.nc")};
        EditorWindow* editor = OpenEditor();
        QVERIFY(editor->programText() == bytes);
        // Saved as a copy; the copy read back and saved over itself stays as it is.
        prompts->saveNames = {path("copy.nc"), path("copy.nc")};
        Key(editor, Qt::Key_S);
        QCOMPARE(prompts->fileQuestions[1].fileName, path("all.nc"));  // starts at the open file
        Key(editor, Qt::Key_O);
        QTRY_VERIFY(!editor->isBusy());
        Key(editor, Qt::Key_S);
        QVERIFY(test::fileBytes(file("copy.nc")) == bytes + "\r\n");
    }

    void printsTheSelectionOrAllWithMarginsAndPageNumbersBesideTheProgram() {
        write("o1.nc", "G00 X11 Y12\r\nG01 Z-33 F440\r\nM30\r\n");
        prompts->openNames = {path("o1.nc")};
        EditorWindow* editor = OpenEditor();
        prompts->printTo = path("printed.pdf");
        QStringList printed;  // the words of each print, after " x>" if further left than 1/2 inch
        for (unsigned long from : {13UL, 0UL}) {  // the second line, then all
            editor->textArea()->SendScintilla(Sci::SCI_SETSEL, from, from ? 26L : 0L);
            Key(editor, Qt::Key_P);
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
                                       "all: G00 X11 Y12 G01 Z-33 F440 M30 Page 1 of 1"}));
        // The print dialog offers that PDF file, beside the program, also
        // where there is no printer at all.
        QPrinter printer;
        QPrintDialog dialog(&printer);
        setUpPrintDialog(dialog, "print", false, prompts->printPdfName);
        dialog.show();
        QVERIFY(dialog.findChild<QComboBox*>("printers")->findText("Print to File (PDF)") >= 0);
        QCOMPARE(dialog.findChild<QLineEdit*>("filename")->text(), path("o1.pdf"));
    }

    void aLargeProgramLoadsAndIsNumberedInSlicesAsOneUndoableStep() {
        std::string program;
        for (int i = 0; i < 300000; ++i) program += "G01 X" + std::to_string(i) + " Y1\r\n";
        write("big.nc", program);
        prompts->openNames = {path("big.nc")};
        EditorWindow* editor = OpenEditor();
        QVERIFY(editor->programText() == program);

        int turns = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, [&] { ++turns; });
        beat.start(0);
        QSignalSpy finished(editor, &EditorWindow::numberingFinished);
        editor->findChild<QAction*>("NNumber")->trigger();
        QVERIFY(finished.wait(60000));
        QVERIFY2(turns >= 2, "back to the event loop while numbering");
        QVERIFY(editor->programText() == editor::NumberProgram(program, 10).numberedText);
        editor->findChild<QAction*>("Undo1")->trigger();
        QVERIFY(editor->programText() == program);
        // Refused, and told, when numbered already.
        editor->setProgramText("G00 X0\r\n  N20 G01\r\nM30\r\n");
        editor->NumberLines();
        QTRY_VERIFY(finished.count() == 2 && editor->textArea()->isVisible());
        QVERIFY(prompts->asked.at(0).text.starts_with("Beqinning of line N"));
        QCOMPARE(editor->programText(), std::string("G00 X0\r\n  N20 G01\r\nM30\r\n"));
    }

    void theSearchLooksAtTheTextAsItIsAndGoesOnFromTheCaret() {
        EditorWindow* editor = OpenEditor();
        QsciScintilla* text = editor->textArea();
        editor->setProgramText("O0001\r\nG00 X0 Y0\r\ng01 z-1\r\nG01 Z-1 F100\r\nG01 X50\r\nM30");
        Key(editor, Qt::Key_F);
        SearchDialog* dialog = editor->searchDialog();
        dialog->wordBox()->setText("g01");
        dialog->searchButton()->click();
        QTRY_COMPARE(dialog->byteLabel()->text() + " " + dialog->lineLabel()->text(), "28 4");
        // Typed in on the first line, the caret then put in the hit: the next
        // hit is the one after the caret in the text as it is now.
        text->SendScintilla(Sci::SCI_GOTOPOS, 5UL);
        QTest::keyClicks(text, " (NEW)");
        text->SendScintilla(Sci::SCI_GOTOPOS, 34UL);
        QTest::keyClick(text, Qt::Key_F3);
        QTRY_COMPARE(dialog->byteLabel()->text() + " " + dialog->lineLabel()->text(), "48 5");
        QCOMPARE(text->selectedText(), QString("G01"));
    }

    void editsAreDroppedOnlyWhenTheOperatorSaysSo() {
        write("o1.nc", "G00 X1");
        prompts->openNames = {path("o1.nc")};
        QPointer<EditorWindow> editor = OpenEditor();
        QTest::keyClicks(editor->textArea(), "M30 ");
        QCOMPARE(editor->windowTitle(), "*" + path("o1.nc"));
        prompts->answers = {Answer::Save, Answer::Discard};  // the save dialog is cancelled
        Key(editor, Qt::Key_W);
        QCOMPARE(prompts->asked.at(0).text, std::string("Save changes to o1.nc?"));
        QVERIFY(editor->isVisible() && prompts->asked[0].buttons == Buttons::SaveDiscardCancel);
        editor->setGeometry(60, 70, 500, 400);
        Key(editor, Qt::Key_W);  // "Discard"
        QTRY_VERIFY(!editor);
        QVERIFY(prompts->asked.size() == 2 && app.editorOpen == 0);
        QCOMPARE(OpenEditor()->geometry(), QRect(60, 70, 500, 400));  // where it was last
    }

    void theToolbarCopiesPastesAndCuts() {
        EditorWindow* editor = OpenEditor();
        editor->setProgramText("G00 X1\r\nM30\r\n");
        QStringList texts;
        for (auto [button, from, to] :
             {std::tuple{"Copy1", 4UL, 6L}, {"Paste1", 11UL, 11L}, {"Cut1", 4UL, 6L}}) {
            editor->textArea()->SendScintilla(Sci::SCI_SETSEL, from, to);
            editor->findChild<QAction*>(button)->trigger();
            texts << QString::fromStdString(editor->programText());
        }
        QCOMPARE(texts,
                 (QStringList{"G00 X1\r\nM30\r\n", "G00 X1\r\nM30X1\r\n", "G00 \r\nM30X1\r\n"}));
    }
};

QTEST_MAIN(EditorWindowTest)
#include "editor_window_test.moc"
