#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "QtTestText.h"

#include <filesystem>

#include "AppContext.h"
#include "ConfigFile.h"
#include "PathDialog.h"
#include "ProTool.h"
#include "RecordingPrompts.h"
#include "TempDir.h"

using namespace fbx;
using namespace fbx::ui;
using fbx::test::RecordingPrompts;
using fbx::test::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string kWrongPath = "Select wrong path\nPlsre-select";

QStringList itemsOf(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text().trimmed();
    return items;
}

// Clicks an entry of a list; twice: double-clicks it (whose first press is a
// click of its own).
void click(QListWidget* list, const QString& text, bool twice = false) {
    QListWidgetItem* item = nullptr;
    for (int i = 0; i < list->count() && !item; ++i)
        if (list->item(i)->text().trimmed() == text) item = list->item(i);
    QVERIFY2(item, qPrintable(text));
    list->scrollToItem(item);
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (twice) QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class PathDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<RecordingPrompts> m_prompts;
    AppContext m_app;
    QString m_oldDir;

    QString dir() const { return QString::fromStdString(m_dir->path()); }
    std::string file(const char* name) const { return m_dir->file(name); }

    QListWidget* dirs(PathDialog& d) { return d.findChild<QListWidget*>("Dir1"); }
    QListWidget* files(PathDialog& d) { return d.findChild<QListWidget*>("File1"); }
    QString pathLabel(PathDialog& d) { return d.findChild<QLabel*>("Label2")->text(); }
    QLineEdit* field(PathDialog& d) { return d.findChild<QLineEdit*>("Text1"); }
    void sure(PathDialog& d) { d.findChild<QPushButton*>("Command1")->click(); }
    void open(PathDialog& d) {
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
    }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        m_prompts = std::make_unique<RecordingPrompts>();
        m_app = AppContext{};
        m_app.programDir = m_dir->path() + "/";
        m_app.configPath = file("ferobrixlan.cfg");
        ProTool(m_app.settings, m_app.codes);
        // tools/edit.sh (executable), tools/readme.txt, notes.txt, sub/
        fs::create_directories(file("tools"));
        fs::create_directories(file("sub"));
        QVERIFY(writeWholeFile(file("tools/edit.sh"), "#!/bin/sh\n").isOk());
        fs::permissions(file("tools/edit.sh"), fs::perms::owner_all);
        QVERIFY(writeWholeFile(file("tools/readme.txt"), "read me").isOk());
        QVERIFY(writeWholeFile(file("notes.txt"), "notes").isOk());
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(dir());
    }
    void cleanup() {
        QDir::setCurrent(m_oldDir);
        m_prompts.reset();
        m_dir.reset();
    }

    void eachModeStartsAtTheCurrentDirectoryAndRefusesADirectory() {
        m_app.settings.editorPath = "/usr/bin/mousepad";
        const QString config = QString::fromStdString(m_app.configPath);
        struct Case {
            PathDialogMode mode;
            QString prompt, path;
            bool field;
            QStringList toolsFiles;  // the pattern of the first directory change
        };
        const Case cases[] = {
            {PathDialogMode::EditorPath,
             "\nPath select =",
             "/usr/bin/mousepad",
             false,
             {"edit.sh"}},
            {PathDialogMode::SaveConfiguration,
             "\nPath Save =",
             config,
             true,
             {"edit.sh", "readme.txt"}},
            {PathDialogMode::RestoreConfiguration,
             "\nPath select =",
             config,
             false,
             {"edit.sh", "readme.txt"}},
        };
        for (const Case& c : cases) {
            m_prompts->asked.clear();
            PathDialog dialog(m_app, c.mode);
            open(dialog);
            auto* prompt = dialog.findChild<QLabel*>("Label1");
            QCOMPARE(prompt->text(), c.prompt);
            // The prompt shows on one line, beside the path.
            const int promptEnd =
                prompt->x() + prompt->fontMetrics().horizontalAdvance(c.prompt.trimmed());
            QVERIFY(promptEnd <= prompt->x() + prompt->width());
            QVERIFY(promptEnd <= dialog.findChild<QLabel*>("Label2")->x());
            QVERIFY(promptEnd <= field(dialog)->x());
            QCOMPARE(pathLabel(dialog), c.path);
            QCOMPARE(field(dialog)->isVisible(), c.field);
            if (c.field) QCOMPARE(field(dialog)->text(), c.path);
            // Every file at first, whatever the mode.
            QCOMPARE(dialog.directory(), dir());
            QCOMPARE(itemsOf(files(dialog)), QStringList{"notes.txt"});

            click(dirs(dialog), "tools", true);
            QCOMPARE(dialog.directory(), dir() + "/tools");
            QCOMPARE(dialog.choice().selectedPath(), dir() + "/tools/");
            QCOMPARE(pathLabel(dialog), "\n" + dir() + "/tools/");
            QCOMPARE(itemsOf(files(dialog)), c.toolsFiles);

            sure(dialog);
            QCOMPARE(m_prompts->texts(), std::vector<std::string>{kWrongPath});
            QVERIFY(m_prompts->asked[0].beep);
            QVERIFY(dialog.isVisible());
            QCOMPARE(m_app.settings.editorPath, std::string("/usr/bin/mousepad"));
            QCOMPARE(QString::fromStdString(m_app.configPath), config);
        }
        QVERIFY(!fs::exists(m_app.configPath));
    }

    void editorPathIsTakenInMemoryOnly() {
        PathDialog dialog(m_app, PathDialogMode::EditorPath);
        open(dialog);
        click(dirs(dialog), "tools", true);
        click(files(dialog), "edit.sh");
        QCOMPARE(pathLabel(dialog), dir() + "/tools/edit.sh");
        sure(dialog);
        QVERIFY(m_prompts->asked.empty());
        QCOMPARE(m_app.settings.editorPath, file("tools/edit.sh"));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!fs::exists(m_app.configPath));
    }

    void aFileHighlightedByTheKeysIsChosenAsByAClick() {
        PathDialog dialog(m_app, PathDialogMode::RestoreConfiguration);
        open(dialog);
        click(dirs(dialog), "tools", true);
        QListWidget* list = files(dialog);
        list->setFocus();  // a focus frame on the first file, no highlight
        QCOMPARE(pathLabel(dialog), "\n" + dir() + "/tools/");
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(pathLabel(dialog), dir() + "/tools/readme.txt");
        QTest::keyClicks(list, "ed");
        QCOMPARE(pathLabel(dialog), dir() + "/tools/edit.sh");
        QCOMPARE(list->selectedItems().first()->text(), QString("edit.sh"));

        // Ctrl+click takes the highlight away: nothing is chosen.
        const QPoint at = list->visualItemRect(list->selectedItems().first()).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QVERIFY(list->selectedItems().isEmpty());
        sure(dialog);
        QCOMPARE(m_prompts->texts(), std::vector<std::string>{kWrongPath});
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(dialog.choice().selectedPath(), dir() + "/tools/readme.txt");
    }

    void theRootGetsNoDoubledSeparator() {
        PathChoice choice(PathDialogMode::RestoreConfiguration, "", "");
        choice.directoryChanged("/");
        QCOMPARE(choice.selectedPath(), QStringLiteral("/"));
        QCOMPARE(choice.pathLabel(), QStringLiteral("\n/"));
        choice.fileClicked("/", "edit");
        QCOMPARE(choice.selectedPath(), QStringLiteral("/edit"));
        choice.fileClicked("/opt/cnc", "edit");
        QCOMPARE(choice.selectedPath(), QStringLiteral("/opt/cnc/edit"));

        // The drive list starts with "/" and choosing it shows the root.
        PathDialog dialog(m_app, PathDialogMode::RestoreConfiguration);
        open(dialog);
        auto* drives = dialog.findChild<QComboBox*>("Drive1");
        QCOMPARE(drives->itemText(0), QStringLiteral("/"));
        drives->setCurrentIndex(0);
        emit drives->activated(0);
        QCOMPARE(dialog.directory(), QStringLiteral("/"));
        QCOMPARE(pathLabel(dialog), QStringLiteral("\n/"));
        QCOMPARE(dirs(dialog)->item(0)->text(), QStringLiteral("/"));
    }

    void aDirectoryThatCannotBeReadIsReportedAndTheListsStay() {
        PathDialog dialog(m_app, PathDialogMode::EditorPath);
        open(dialog);
        fs::remove_all(file("sub"));
        click(dirs(dialog), "sub", true);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QVERIFY(m_prompts->asked[0].text.find(file("sub")) != std::string::npos);
        QCOMPARE(dialog.directory(), dir());
        QVERIFY(dialog.choice().firstChange());
        QCOMPARE(itemsOf(files(dialog)), QStringList{"notes.txt"});
    }

    void saveWritesTheTypedPathOrKeepsTheOldOneWhenItFails() {
        m_app.settings.baudRate = "4800";
        const std::string before = m_app.configPath;
        PathDialog dialog(m_app, PathDialogMode::SaveConfiguration);
        open(dialog);
        field(dialog)->setText(QString::fromStdString(file("missing/x.cfg")));
        sure(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QCOMPARE(m_prompts->asked[0].icon, Icon::Exclamation);
        QVERIFY(m_prompts->asked[0].text.find(file("missing/x.cfg")) != std::string::npos);
        QCOMPARE(m_app.configPath, before);
        QVERIFY(dialog.isVisible());

        const std::string target = file("sub/shop1.cfg");
        field(dialog)->setText(QString::fromStdString(target));
        sure(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QCOMPARE(m_app.configPath, target);
        QCOMPARE(test::fileBytes(target), formatConfigLine(m_app.settings, target));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void savingOverAFileThatIsNotAConfigurationAsksFirst() {
        const std::string program = file("o1234.nc");
        QVERIFY(writeWholeFile(program, "%\r\nG01 X10.\r\n%\r\n").isOk());
        PathDialog dialog(m_app, PathDialogMode::SaveConfiguration);
        open(dialog);
        click(files(dialog), "o1234.nc");
        QCOMPARE(field(dialog)->text(), QString::fromStdString(program));

        m_prompts->answers = {Answer::No};
        sure(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QCOMPARE(m_prompts->asked[0].buttons, Buttons::YesNo);
        QVERIFY(m_prompts->asked[0].text.find(program) != std::string::npos);
        QCOMPARE(test::fileBytes(program), std::string("%\r\nG01 X10.\r\n%\r\n"));
        QVERIFY(dialog.isVisible());

        m_prompts->answers = {Answer::Yes};
        sure(dialog);
        QCOMPARE(test::fileBytes(program), formatConfigLine(m_app.settings, program));
        QCOMPARE(m_app.configPath, program);
    }

    void restoreTakesTheFileAndRefreshesTheStatusLine() {
        Settings shop;
        shop.baudRate = "19200";
        shop.mode = "DNC";
        const std::string saved = file("sub/shop1.cfg");
        QVERIFY(saveSettings(shop, saved).isOk());

        PathDialog dialog(m_app, PathDialogMode::RestoreConfiguration);
        QSignalSpy refreshed(&dialog, &PathDialog::proToolRan);
        open(dialog);
        click(dirs(dialog), "sub", true);
        click(files(dialog), "shop1.cfg");
        sure(dialog);
        QVERIFY(m_prompts->asked.empty());
        QCOMPARE(m_app.settings, shop);
        QCOMPARE(m_app.codes.baudCode, std::int16_t(13));
        QCOMPARE(m_app.configPath, saved);
        QCOMPARE(refreshed.count(), 1);
    }

    void restoringAFileThatIsNotAConfigurationLeavesItAlone() {
        m_app.settings.baudRate = "4800";
        const std::string before = m_app.configPath;
        PathDialog dialog(m_app, PathDialogMode::RestoreConfiguration);
        QSignalSpy refreshed(&dialog, &PathDialog::proToolRan);
        open(dialog);
        click(files(dialog), "notes.txt");
        sure(dialog);
        QCOMPARE(m_prompts->texts(), std::vector<std::string>{"Welcome enter the Ferolan  "});
        QCOMPARE(test::fileBytes(file("notes.txt")), std::string("notes"));
        QCOMPARE(m_app.settings, Settings{});
        QCOMPARE(m_app.codes.baudCode, std::int16_t(12));
        QCOMPARE(m_app.configPath, before);
        QCOMPARE(refreshed.count(), 1);
    }
};

QTEST_MAIN(PathDialogTest)
#include "path_dialog_test.moc"
