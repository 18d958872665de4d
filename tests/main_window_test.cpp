#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include "QtTestText.h"

#include "ConfigFile.h"
#include "DataFiles.h"
#include "MainWindow.h"
#include "ModalWatch.h"
#include "RecordingPrompts.h"
#include "TempDir.h"

using namespace fbx;
using namespace fbx::ui;
using fbx::test::ModalWatch;
using fbx::test::RecordingPrompts;
using fbx::test::TempDir;

namespace {

const std::string kDefaultsLine =
    "\"\",\"\",\"ON\",\"ON\",\"OFF\",\"1\",\"9600\",\"7\",\"2\",\"e\",\"Soft\",\"ISO\",\"\",\"\","
    "\"\",\"\",\"\",\"\",\"\",\"1\",\"NOMAL\",\"\",\"\",\"0\"\r\n";

QAction* entry(QWidget& window, const char* name) {
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<RecordingPrompts> m_prompts;
    QString m_oldDir;

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        m_prompts = std::make_unique<RecordingPrompts>();
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(m_dir->path()));
        setSharedDataDirs({});  // only the start-up directory holds pictures
    }
    void cleanup() {
        QDir::setCurrent(m_oldDir);
        m_prompts.reset();
        m_dir.reset();
    }

    void firstStartInAnEmptyDirectory() {
        MainWindow window;
        QCOMPARE(m_prompts->texts(), std::vector<std::string>{"Welcome enter the Ferolan  "});
        QCOMPARE(m_prompts->asked[0].title, std::string("Welcome Use Me"));
        QVERIFY(m_prompts->asked[0].beep);
        QCOMPARE(window.app().configPath, m_dir->file("ferobrixlan.cfg"));
        QCOMPARE(test::fileBytes(window.app().configPath), kDefaultsLine);
        QCOMPARE(window.app().settings, Settings{});
        // No pictures in the directory: the animation shows nothing.
        window.showNextPicture();
        QVERIFY(window.picture()->pixmap().isNull());
    }

    void startWithAConfigurationShowsItsSettingsWithoutAsking() {
        Settings saved;
        saved.baudRate = "19200";
        saved.handshake = "Brix";
        const std::string path = m_dir->file("ferobrixlan.cfg");
        QVERIFY(saveSettings(saved, path).isOk());
        const std::string before = test::fileBytes(path);

        MainWindow window;
        QVERIFY(m_prompts->asked.empty());
        QCOMPARE(window.app().settings, saved);
        QCOMPARE(window.app().codes.baudCode, std::int16_t(13));
        QVERIFY(window.statusLine()->text().startsWith("Brixware Handshake"));
        QVERIFY(window.statusLine()->text().contains("19200,7,2"));
        QCOMPARE(test::fileBytes(path), before);
    }

    void defaultsThatCannotBeWrittenAreReportedWithThePath() {
        const std::string missing = m_dir->file("gone");
        MainWindow window({}, QString::fromStdString(missing));
        QCOMPARE(m_prompts->asked.size(), size_t(2));
        QCOMPARE(m_prompts->asked[1].icon, Icon::Exclamation);
        QVERIFY(m_prompts->asked[1].text.find(missing + "/ferobrixlan.cfg") != std::string::npos);
        QCOMPARE(window.app().settings, Settings{});  // start-up goes on with the defaults
    }

    void menusHoldTheirEntriesInOrder() {
        MainWindow window;
        // A menu's title, then name|caption|key of each entry ("-": a separator);
        // "&" marks an entry's Alt-letter.
        auto entries = [&](const char* name) {
            auto* menu = window.findChild<QMenu*>(name);
            QStringList list{menu ? menu->title() : "(none)"};
            for (QAction* a : menu ? menu->actions() : QList<QAction*>{})
                list << QStringList{a->objectName(), a->isSeparator() ? "-" : a->text(),
                                    a->shortcut().toString()}
                            .join('|');
            return list;
        };
        QCOMPARE(entries("Go"),
                 (QStringList{"&Work", "Sendd|&Send|F1", "Reveice|&Receive|F2", "seprator|-|",
                              "Edit|&Editor|F3", "sepretor|-|", "Exit|&Quit|Ctrl+Q"}));
        QCOMPARE(entries("Setting"), (QStringList{"&Setting", "ProTocol|Setting of &communtion|F4",
                                                  "Idnumber|&Editor|", "Process|&Replace|"}));
        QCOMPARE(entries("OPtion"),
                 (QStringList{"Se&lect", "Editor|&Editor path|", "savecon|&Save configer path|",
                              "Restorecon|&Read configer path|"}));
        // The bar ends with two commands of its own, About and Instruction.
        QStringList bar;
        for (QAction* a : window.menuBar()->actions())
            bar << (a->menu() ? a->text() : a->objectName() + "|" + a->text());
        QCOMPARE(bar, (QStringList{"&Work", "&Setting", "Se&lect", "About|&About",
                                   "Talk|&Instruction"}));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_L, Qt::AltModifier);
        auto* select = window.findChild<QMenu*>("OPtion");
        QTRY_VERIFY(select->isVisible());
        select->close();
    }

    void functionKeysRunTheTransferFlows() {
        QWidget* sentFrom = nullptr;
        int sends = 0, receives = 0;
        MainCommands commands;
        commands.send = [&](QWidget* w, AppContext&) {
            ++sends;
            sentFrom = w;
        };
        commands.receive = [&](QWidget*, AppContext&) { ++receives; };
        MainWindow window(commands);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F1);
        QTest::keyClick(&window, Qt::Key_F2);
        QTest::keyClick(&window, Qt::Key_F2);
        QCOMPARE(sends, 1);
        QCOMPARE(receives, 2);
        QCOMPARE(sentFrom, &window);
    }

    void outsideEditorThatCannotStartIsReported() {
        MainWindow window;
        m_prompts->asked.clear();
        entry(window, "Edit")->trigger();  // empty path
        window.app().settings.editorPath = m_dir->file("notes.txt");
        QVERIFY(writeWholeFile(window.app().settings.editorPath, "text").isOk());
        entry(window, "Edit")->trigger();  // not a program
        const std::string text =
            "Sorry during the edit path can't open ,\n"
            "Please select the path of [Select]==> [Edit] \n"
            "the setting then can be use . ";
        QCOMPARE(m_prompts->texts(), (std::vector<std::string>{text, text}));
        QVERIFY(m_prompts->asked[0].beep && m_prompts->asked[1].beep);

        // A program that exists is started and nothing is asked.
        const std::string marker = m_dir->file("started");
        const std::string script = m_dir->file("editor.sh");
        QVERIFY(writeWholeFile(script, "#!/bin/sh\ntouch '" + marker + "'\n").isOk());
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        window.app().settings.editorPath = script;
        entry(window, "Edit")->trigger();
        QTRY_VERIFY(std::filesystem::exists(marker));
        QCOMPARE(m_prompts->asked.size(), size_t(2));
    }

    void animationRunsThroughTheSixPicturesAndSkipsAMissingOne() {
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
        for (int i = 0; i < 6; ++i) {
            QImage image(12, 8, QImage::Format_RGB32);
            image.fill(colours[i]);
            if (i != 2) QVERIFY(image.save(QString("brix%1.bmp").arg(i + 1)));
        }
        QVERIFY(writeWholeFile("ferobrixlan.cfg", formatConfigLine(Settings{}, "")).isOk());

        MainWindow window;
        QCOMPARE(window.animationTimer()->interval(), 200);
        QVERIFY(window.animationTimer()->isActive());
        const QColor expected[] = {Qt::red,  Qt::green,   Qt::green /* 3 missing */,
                                   Qt::cyan, Qt::magenta, Qt::yellow,
                                   Qt::red,  Qt::green};
        for (const QColor& colour : expected) {
            window.showNextPicture();
            QCOMPARE(window.picture()->pixmap().toImage().pixelColor(0, 0), colour);
        }

        // Paused while another window is active, resumed after.
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(&window, &deactivate);
        QVERIFY(!window.animationTimer()->isActive());
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &activate);
        QVERIFY(window.animationTimer()->isActive());
    }

    void builtInEditorIsOneWindowBroughtForwardWithTheMainWindow() {
        QPointer<QWidget> editor;
        int made = 0;
        MainCommands commands;
        commands.openEditor = [&](AppContext& app) -> QWidget* {
            ++made;
            editor = new QWidget;
            editor->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(editor, &QObject::destroyed, [&app] { app.editorOpen = 0; });
            editor->show();
            return editor;
        };
        MainWindow window(commands);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        entry(window, "Idnumber")->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(editor));
        entry(window, "Idnumber")->trigger();
        QCOMPARE(made, 1);
        window.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), editor.data());

        editor->close();
        QTRY_VERIFY(!editor);
        QCOMPARE(window.app().editorOpen, 0);
        window.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &window);
    }

    void quitAndClosingEndTheProgramAtOnceWithoutSaving() {
        {
            MainWindow window;
            window.app().settings.editorPath = "/changed/in/memory";
            QTimer::singleShot(0, [&] { entry(window, "Exit")->trigger(); });
            QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(test::fileBytes(m_dir->file("ferobrixlan.cfg")), kDefaultsLine);
        }
        // Another window left open does not keep the program running.
        MainWindow window;
        QWidget other;
        other.show();
        window.show();
        QTimer::singleShot(0, [&] { window.close(); });
        QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void anEditorKeepingItsEditsKeepsTheProgramRunning() {
        // The editor window's answer to "Save changes to ...?".
        struct Editor : QWidget {
            bool keep = true;
            void closeEvent(QCloseEvent* e) override { keep ? e->ignore() : e->accept(); }
        };
        QPointer<Editor> editor;
        MainCommands commands;
        commands.openEditor = [&](AppContext&) -> QWidget* {
            editor = new Editor;
            editor->show();
            return editor;
        };
        MainWindow window(commands);
        window.show();
        entry(window, "Idnumber")->trigger();
        QTimer::singleShot(0, [&] { entry(window, "Exit")->trigger(); });
        QTimer::singleShot(10, [&] { window.close(); });
        QTimer::singleShot(300, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 1);
        QVERIFY(window.isVisible() && editor && editor->isVisible());

        editor->keep = false;
        QTimer::singleShot(0, [&] { entry(window, "Exit")->trigger(); });
        QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void settingsConfirmedWithF4RefreshTheStatusLine() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        m_prompts->answers = {Answer::No};
        ModalWatch watch([](QWidget* dialog) {
            dialog->findChild<QComboBox*>("baudRateList")->setCurrentText("19200");
            dialog->findChild<QPushButton*>("Command1")->click();
        });
        QTest::keyClick(&window, Qt::Key_F4);
        QCOMPARE(watch.title(), QStringLiteral("Protocol"));
        QVERIFY(window.statusLine()->text().contains("19200,7,2"));
    }

    void menuEntriesOpenTheirWindows() {
        MainWindow window;
        const std::pair<const char*, const char*> cases[] = {
            {"Process", "Form5"},    {"Editor", "form4"}, {"savecon", "form4"},
            {"Restorecon", "form4"}, {"About", "form6"},  {"Talk", "Form8"}};
        for (const auto& [name, window_name] : cases) {
            ModalWatch watch;
            entry(window, name)->trigger();
            QCOMPARE(watch.name(), QString::fromLatin1(window_name));
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
