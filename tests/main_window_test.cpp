#include <Qsci/qsciscintilla.h>
#include <filesystem>

#include "DataFiles.h"
#include "Desktop.h"
#include "EditorWindow.h"
#include "InstructionWindow.h"
#include "MainWindow.h"
#include "MemorySerialPort.h"
#include "RecordingPrompts.h"
#include "TransferWindow.h"

using namespace fbx;
using namespace fbx::ui;

namespace {

// Runs the event loop until the program ends (its exit code) or, still
// running after the given time, gives 1.
int runFor(int ms, std::function<void()> action) {
    QTimer::singleShot(0, action);
    QTimer::singleShot(ms, [] { QCoreApplication::exit(1); });
    return QCoreApplication::exec();
}

}  // namespace

// Runs on a screen of 1600x1000 pixels at twice the scale (windows.cmake).
class MainWindowTest : public QObject, test::WindowWorld {
    Q_OBJECT

private slots:
    void init() {
        freshWorld();
        setSharedDataDirs({});  // only the start-up directory holds pictures
    }

    // (A first start that can write them: the quit case reads them back.)
    void defaultsThatCannotBeWrittenAtAFirstStartAreSaid() {
        MainWindow nowhere({}, path("gone"));
        QVERIFY(prompts->asked.back().text.find(file("gone/ferobrixlan.cfg")) != std::string::npos);
    }

    void keysAndEntriesRunTheirCommandsAndOpenTheirWindows() {
        QStringList ran;
        MainCommands commands;
        commands.send = [&](QWidget* w, AppContext&) { ran << "send " + w->objectName(); };
        commands.receive = [&](QWidget*, AppContext&) { ran << "receive"; };
        MainWindow window(commands);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (Qt::Key key : {Qt::Key_F1, Qt::Key_F2}) QTest::keyClick(&window, key);
        for (const char* name : {"ProTocol", "Process", "Restorecon", "About", "Talk"})
            ran << test::closeModal([&] { window.findChild<QAction*>(name)->trigger(); });
        QCOMPARE(ran, (QStringList{"send form1", "receive", "Form2", "Form5", "form4", "form6",
                                   "Form8"}));
    }

    void anOutsideEditorIsStartedOrTheOperatorToldWhyNot() {
        MainWindow window;
        write("editor.sh", "#!/bin/sh\ntouch started\n");
        for (int perms : {0600, 0700}) {  // not a program, then one
            std::filesystem::permissions(file("editor.sh"), std::filesystem::perms(perms));
            window.app().settings.editorPath = file("editor.sh");
            window.findChild<QAction*>("Edit")->trigger();
        }
        QTRY_VERIFY(std::filesystem::exists("started"));
        QVERIFY(prompts->asked.size() == 2 && prompts->asked.back().beep);  // after the greeting
    }

    // Picture 3 is missing: the one before stays; the animation stops while
    // the window is not active.
    void theAnimationRunsThroughTheSixPicturesWhileTheWindowIsActive() {
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
        for (int i : {0, 1, 3, 4, 5}) {
            QImage image(12, 8, QImage::Format_RGB32);
            image.fill(colours[i]);
            QVERIFY(image.save(QString("brix%1.bmp").arg(i + 1)));
        }
        MainWindow window;
        for (QColor colour :
             {Qt::red, Qt::green, Qt::green, Qt::cyan, Qt::magenta, Qt::yellow, Qt::red}) {
            window.showNextPicture();
            QCOMPARE(window.picture()->pixmap().toImage().pixelColor(0, 0), colour);
        }
        for (QEvent::Type type : {QEvent::WindowActivate, QEvent::WindowDeactivate}) {
            QEvent event(type);
            QApplication::sendEvent(&window, &event);
            QCOMPARE(window.animationTimer()->isActive(), type == QEvent::WindowActivate);
        }
    }

    // A data file (here the shop's own manual) comes from the start-up
    // directory before the shared ones, read afresh at each opening.
    void theManualComesFromTheStartupDirectoryFirstAndAfreshAtEachOpening() {
        test::TempDir shared;
        setSharedDataDirs({QString::fromStdString(shared.path())});
        for (const test::TempDir* dir : {&shared, &prompts->dir}) {
            const std::string notes = "Notes kept in " + dir->path() + "\n";
            QVERIFY(writeWholeFile(dir->file("ferobrixlan-manual.txt"), notes).isOk());
            QCOMPARE(InstructionWindow(app).textBox()->toPlainText(),
                     QString::fromStdString(notes));
        }
    }

    void quitEndsTheProgramAtOnceUnlessTheEditorKeepsItsEdits() {
        MainCommands commands;
        EditorWindow* editor = nullptr;
        commands.openEditor = [&](AppContext& a) { return editor = new EditorWindow(a); };
        MainWindow window(commands);
        window.app().settings.editorPath = "/changed/in/memory";
        window.show();
        prompts->asked.clear();
        window.findChild<QAction*>("Idnumber")->trigger();
        QVERIFY(editor);
        editor->show();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        QTRY_VERIFY(!prompts->fileQuestions.empty());  // the editor's open dialog has been
        QTest::keyClicks(editor->textArea(), "G01");
        // Ctrl+Q in the editor, and closing the main window, ask the editor,
        // which keeps its edits ...
        auto quit = [&] { QTest::keyClick(editor->textArea(), Qt::Key_Q, Qt::ControlModifier); };
        prompts->answers = {Answer::Cancel, Answer::Cancel, Answer::Discard};
        QCOMPARE(runFor(300, quit), 1);
        QCOMPARE(runFor(300, [&] { window.close(); }), 1);
        QCOMPARE(prompts->asked.size(), 2u);  // "Save changes to Untitled?" twice
        // ... until the operator lets them go; nothing is saved.
        QCOMPARE(runFor(3000, quit), 0);
        QCOMPARE(test::fileBytes("ferobrixlan.cfg"), formatConfigLine(Settings{}, ""));
    }

    void aDroppedOrRecentProgramIsOfferedForSending() {
        QStringList offered;
        MainCommands commands;
        commands.sendFile = [&](QWidget*, AppContext&, const QString& path) { offered << path; };
        MainWindow window(commands);
        const QString o1 = path("o1.nc"), o2 = path("o2.nc");
        write("o1.nc", "G01 X1\r\n");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(o1)});
        QDragEnterEvent enter({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QApplication::sendEvent(&window, &drop);
        QVERIFY(window.acceptDrops() && enter.isAccepted());
        QTRY_COMPARE(offered, QStringList{o1});
        rememberProgram(o2);
        rememberProgram(o1);
        auto* recent = window.findChild<QMenu*>("recentPrograms");
        emit recent->aboutToShow();
        QCOMPARE(recent->actions().size(), 2);
        recent->actions()[1]->trigger();
        QCOMPARE(offered, (QStringList{o1, o2}));
    }

    // The windows that keep a place; the fixed dialogs (settings, paths,
    // processing, about) are well within the screen at any scale up to two.
    void everyWindowFitsAScreenOf1000PixelsAtTwiceTheScale() {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(screen.height(), 500);
        app.makePort = [] { return std::make_unique<MemorySerialPort>(); };
        const std::function<QWidget*()> windows[] = {
            [] { return new MainWindow; },
            [&] {
                auto* w = new TransferWindow(app);
                w->openSend("%\r\nG01 X1\r\n%\r\n", "o1.nc");
                return w;
            },
            [&] { return new EditorWindow(app); }, [&] { return new InstructionWindow(app); }};
        for (const auto& make : windows) {
            std::unique_ptr<QWidget> window(make());
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QTRY_VERIFY2(screen.contains(window->frameGeometry()),
                         qPrintable(window->objectName()));
            for (QPushButton* button : window->findChildren<QPushButton*>())
                QVERIFY2(!button->isVisible() ||
                             screen.contains(QRect(button->mapToGlobal(QPoint()), button->size())),
                         qPrintable(window->objectName() + " " + button->text()));
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
