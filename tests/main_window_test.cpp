#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include "QtTestText.h"

#include "ConfigFile.h"
#include "DataFiles.h"
#include "Look.h"
#include "MainWindow.h"
#include "ModalWatch.h"
#include "ProTool.h"
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

std::string slurp(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
}

QAction* entry(QWidget& window, const char* name) {
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

QColor pictureColour(const MainWindow& window) {
    return window.picture()->pixmap().toImage().pixelColor(0, 0);
}

void writePicture(const TempDir& dir, int frame, const QColor& colour) {
    QImage image(12, 8, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(image.save(QString::fromStdString(dir.file("brix" + std::to_string(frame) + ".bmp"))));
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<RecordingPrompts> m_prompts;
    QString m_oldDir;

    QString dir() const { return QString::fromStdString(m_dir->path()); }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        m_prompts = std::make_unique<RecordingPrompts>();
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(dir());
        setSharedDataDirs({});  // only the start-up directory holds pictures
    }
    void cleanup() {
        QDir::setCurrent(m_oldDir);
        m_prompts.reset();
        m_dir.reset();
    }

    void firstStartInAnEmptyDirectory() {
        MainWindow window;
        AppContext& app = window.app();

        QCOMPARE(m_prompts->asked.size(), size_t(1));
        const Message& welcome = m_prompts->asked[0];
        QCOMPARE(welcome.text, std::string("Welcome enter the Ferolan  "));
        QCOMPARE(welcome.title, std::string("Welcome Use Me"));
        QCOMPARE(welcome.icon, Icon::Question);
        QCOMPARE(welcome.buttons, Buttons::Ok);
        QVERIFY(welcome.beep);

        QCOMPARE(app.programDir, m_dir->path() + "/");
        QCOMPARE(app.configPath, m_dir->file("ferobrixlan.cfg"));
        QCOMPARE(slurp(app.configPath), kDefaultsLine);
        QCOMPARE(app.editorOpen, 0);
        QCOMPARE(app.settings, Settings{});
        QCOMPARE(app.codes, (SerialCodes{1, 12, 24, 2, 4}));
        QCOMPARE(
            window.statusLine()->text(),
            QStringLiteral("Software Handshake     comm port=1       9600,7,2     e      NOMAL"));
        QCOMPARE(window.statusLine()->font().pointSizeF(), 18.0);

        const QString title = window.windowTitle();
        QCOMPARE(title.size(), 162);
        QCOMPARE(title, QString(29, '*') + QString(36, ' ') + "Fero brixlan" + QString(44, ' ') +
                            QString(41, '*'));

        // No pictures in the directory: the animation shows nothing.
        window.showNextPicture();
        QVERIFY(window.picture()->pixmap().isNull());
    }

    void startWithAConfigurationShowsItsSettingsWithoutAsking() {
        Settings saved;
        saved.baudRate = "19200";
        saved.handshake = "Brix";
        saved.mode = "DNC";
        const std::string path = m_dir->file("ferobrixlan.cfg");
        QVERIFY(saveSettings(saved, path).isOk());
        const std::string before = slurp(path);

        MainWindow window;
        QVERIFY(m_prompts->asked.empty());
        QCOMPARE(window.app().settings, saved);
        QCOMPARE(window.app().codes.baudCode, std::int16_t(13));
        QVERIFY(window.statusLine()->text().startsWith("Brixware Handshake"));
        QVERIFY(window.statusLine()->text().contains("19200,7,2"));
        QCOMPARE(slurp(path), before);
    }

    void defaultsThatCannotBeWrittenAreReportedWithThePath() {
        const std::string missing = m_dir->file("gone");
        MainWindow window({}, QString::fromStdString(missing));
        QCOMPARE(m_prompts->asked.size(), size_t(2));
        QCOMPARE(m_prompts->asked[0].text, std::string("Welcome enter the Ferolan  "));
        const Message& warning = m_prompts->asked[1];
        QCOMPARE(warning.icon, Icon::Exclamation);
        QCOMPARE(warning.title, std::string("Save"));
        QVERIFY(warning.text.find(missing + "/ferobrixlan.cfg") != std::string::npos);
        // Start-up goes on with the defaults.
        QCOMPARE(window.app().settings, Settings{});
        QCOMPARE(window.app().codes.portNumber, 1);
    }

    void menusHoldTheirEntriesInOrder() {
        MainWindow window;
        struct Item {
            const char* name;
            const char* caption;
            QKeySequence key;
        };
        auto check = [&](const char* menuName, const char* title, std::vector<Item> items) {
            auto* menu = window.findChild<QMenu*>(menuName);
            QVERIFY2(menu, menuName);
            QCOMPARE(menu->title(), QString::fromLatin1(title));
            const QList<QAction*> actions = menu->actions();
            QCOMPARE(actions.size(), qsizetype(items.size()));
            for (size_t i = 0; i < items.size(); ++i) {
                QCOMPARE(actions[i]->objectName(), QString::fromLatin1(items[i].name));
                if (QString::fromLatin1(items[i].caption) == "-") {
                    QVERIFY(actions[i]->isSeparator());
                } else {
                    QCOMPARE(actions[i]->text(), QString::fromLatin1(items[i].caption));
                    QCOMPARE(actions[i]->shortcut(), items[i].key);
                }
            }
        };
        check("Go", "Work",
              {{"Sendd", "Send", Qt::Key_F1},
               {"Reveice", "Receive", Qt::Key_F2},
               {"seprator", "-", {}},
               {"Edit", "Editor", Qt::Key_F3},
               {"sepretor", "-", {}},
               {"Exit", "Quit", QKeySequence(Qt::CTRL | Qt::Key_Q)}});
        check("Setting", "Setting",
              {{"ProTocol", "Setting of communtion", Qt::Key_F4},
               {"Idnumber", "Editor", {}},
               {"Process", "Replace", {}}});
        check("OPtion", "Select",
              {{"Editor", "Editor path", {}},
               {"savecon", "Save configer path", {}},
               {"Restorecon", "Read configer path", {}}});

        QStringList bar;
        for (QAction* a : window.menuBar()->actions()) bar << a->text();
        QCOMPARE(bar, (QStringList{"Work", "Setting", "Select", "About", "Instruction"}));
        // About and Instruction are commands of the bar itself.
        QVERIFY(entry(window, "About")->menu() == nullptr);
        QVERIFY(entry(window, "Talk")->menu() == nullptr);
        QCOMPARE(entry(window, "Talk")->text(), QStringLiteral("Instruction"));
    }

    void functionKeysRunTheTransferFlows() {
        QWidget* sentFrom = nullptr;
        int sends = 0, receives = 0;
        MainCommands commands;
        commands.send = [&](QWidget* w, AppContext& app) {
            ++sends;
            sentFrom = w;
            app.settings.lastFilePath = "sent";
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
        QCOMPARE(window.app().settings.lastFilePath, std::string("sent"));
    }

    void outsideEditorThatCannotStartIsReported() {
        MainWindow window;
        m_prompts->asked.clear();
        QAction* edit = entry(window, "Edit");

        edit->trigger();  // empty path
        const std::string notAProgram = m_dir->file("notes.txt");
        QVERIFY(writeWholeFile(notAProgram, "text").isOk());
        window.app().settings.editorPath = notAProgram;
        edit->trigger();
        QCOMPARE(m_prompts->asked.size(), size_t(2));
        for (const Message& m : m_prompts->asked) {
            QCOMPARE(m.text, std::string("Sorry during the edit path can't open ,\n"
                                         "Please select the path of [Select]==> [Edit] \n"
                                         "the setting then can be use . "));
            QCOMPARE(m.title, std::string("Select Edit path"));
            QCOMPARE(m.icon, Icon::Question);
            QCOMPARE(m.buttons, Buttons::Ok);
            QVERIFY(m.beep);
        }

        // A program that exists is started and nothing is asked.
        const std::string marker = m_dir->file("started");
        const std::string script = m_dir->file("editor.sh");
        QVERIFY(writeWholeFile(script, "#!/bin/sh\ntouch '" + marker + "'\n").isOk());
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        window.app().settings.editorPath = script;
        edit->trigger();
        QCOMPARE(m_prompts->asked.size(), size_t(2));
        QTRY_VERIFY(std::filesystem::exists(marker));
    }

    void animationRunsThroughTheSixPicturesAndSkipsAMissingOne() {
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
        for (int i = 0; i < 6; ++i) writePicture(*m_dir, i + 1, colours[i]);
        QVERIFY(writeWholeFile(m_dir->file("ferobrixlan.cfg"), formatConfigLine(Settings{}, ""))
                    .isOk());
        std::filesystem::remove(m_dir->file("brix3.bmp"));

        MainWindow window;
        QCOMPARE(window.animationTimer()->interval(), 200);
        QVERIFY(window.animationTimer()->isActive());
        QCOMPARE(window.frameNumber(), std::int16_t(0));

        const QColor expected[] = {Qt::red,  Qt::green,   Qt::green /* 3 missing */,
                                   Qt::cyan, Qt::magenta, Qt::yellow,
                                   Qt::red,  Qt::green};
        for (const QColor& colour : expected) {
            window.showNextPicture();
            QCOMPARE(pictureColour(window), colour);
        }
        QCOMPARE(window.frameNumber(), std::int16_t(3));

        // Paused while another window is active, resumed after.
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(&window, &deactivate);
        QVERIFY(!window.animationTimer()->isActive());
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &activate);
        QVERIFY(window.animationTimer()->isActive());
        QCOMPARE(window.frameNumber(), std::int16_t(3));
    }

    void windowFillsTheWorkAreaWithPictureCentredAboveTheStatusLine() {
        for (int i = 1; i <= 6; ++i) writePicture(*m_dir, i, Qt::darkBlue);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showNextPicture();

        QCOMPARE(window.frameGeometry(), window.screen()->availableGeometry());
        const QSize client = window.centralWidget()->size();
        const QRect status = window.statusLine()->geometry();
        QCOMPARE(status.left(), 0);
        QCOMPARE(status.width(), client.width());
        QCOMPARE(status.bottom() + 1, client.height() - twips(480, &window));
        const QRect picture = window.picture()->geometry();
        QCOMPARE(picture.size(), QSize(12, 8));
        QCOMPARE(picture.left(), client.width() / 2 - 6);
        QCOMPARE(picture.top(), (client.height() - status.height()) / 2 - 4);
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
        QCOMPARE(window.app().editorOpen, 1);
        QVERIFY(editor);
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

    void quitAndClosingEndTheProgramAtOnce() {
        {
            MainWindow window;
            window.app().settings.editorPath = "/changed/in/memory";
            QTimer::singleShot(0, [&] { entry(window, "Exit")->trigger(); });
            QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });
            QCOMPARE(QCoreApplication::exec(), 0);
            // Nothing was saved.
            QCOMPARE(slurp(m_dir->file("ferobrixlan.cfg")), kDefaultsLine);
        }
        {
            // Another window left open does not keep the program running.
            MainWindow window;
            QWidget other;
            other.show();
            window.show();
            QTimer::singleShot(0, [&] { window.close(); });
            QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });
            QCOMPARE(QCoreApplication::exec(), 0);
        }
    }

    void settingsConfirmedRefreshTheStatusLine() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        m_prompts->answers = {Answer::No};
        ModalWatch watch([](QWidget* dialog) {
            auto* baud = dialog->findChild<QComboBox*>("baudRateList");
            baud->setCurrentText("19200");
            dialog->findChild<QPushButton*>("Command1")->click();
        });
        QTest::keyClick(&window, Qt::Key_F4);
        QCOMPARE(watch.title(), QStringLiteral("Protocol"));
        QVERIFY(window.statusLine()->text().contains("19200,7,2"));
        QCOMPARE(window.app().codes.baudCode, std::int16_t(13));
        // "No": the file keeps 9600.
        QCOMPARE(slurp(window.app().configPath), kDefaultsLine);
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
