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

std::string slurp(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
}

QStringList itemsOf(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text().trimmed();
    return items;
}

QListWidgetItem* itemNamed(QListWidget* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().trimmed() == text) return list->item(i);
    }
    return nullptr;
}

void doubleClick(QListWidget* list, const QString& text) {
    QListWidgetItem* item = itemNamed(list, text);
    QVERIFY2(item, qPrintable(text));
    list->scrollToItem(item);
    const QPoint at = list->visualItemRect(item).center();
    // The first press of a double click is a click of its own.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void click(QListWidget* list, const QString& text) {
    QListWidgetItem* item = itemNamed(list, text);
    QVERIFY2(item, qPrintable(text));
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
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

    struct Parts {
        QListWidget* dirs;
        QListWidget* files;
        QLabel* pathLabel;
        QLabel* prompt;
        QLineEdit* field;
        QComboBox* drives;
    };
    Parts parts(PathDialog& d) {
        return {d.findChild<QListWidget*>("Dir1"), d.findChild<QListWidget*>("File1"),
                d.findChild<QLabel*>("Label2"),    d.findChild<QLabel*>("Label1"),
                d.findChild<QLineEdit*>("Text1"),  d.findChild<QComboBox*>("Drive1")};
    }
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

    void eachModeSetsCaptionPromptAndStartingPath() {
        m_app.settings.editorPath = "/usr/bin/mousepad";
        struct Case {
            PathDialogMode mode;
            QString caption, prompt, path;
            bool field;
        };
        const Case cases[] = {
            {PathDialogMode::EditorPath, QString(22, '*') + "Editor" + QString(19, '*'),
             "\nPath select =", "/usr/bin/mousepad", false},
            {PathDialogMode::SaveConfiguration,
             QString(15, '*') + "Save Configuration" + QString(15, '*'),
             "\nPath Save =", QString::fromStdString(m_app.configPath), true},
            {PathDialogMode::RestoreConfiguration,
             QString(14, '*') + "Restor Configuration" + QString(15, '*'),
             "\nPath select =", QString::fromStdString(m_app.configPath), false},
        };
        for (const Case& c : cases) {
            PathDialog dialog(m_app, c.mode);
            open(dialog);
            Parts p = parts(dialog);
            QCOMPARE(dialog.windowTitle(), c.caption);
            QCOMPARE(p.prompt->text(), c.prompt);
            QCOMPARE(dialog.choice().selectedPath(), c.path);
            QCOMPARE(p.pathLabel->text(), c.path);
            QCOMPARE(p.field->isVisible(), c.field);
            if (c.field) QCOMPARE(p.field->text(), c.path);
            // The lists start at the current directory with every file.
            QCOMPARE(dialog.directory(), dir());
            QCOMPARE(itemsOf(p.files), QStringList{"notes.txt"});
            QVERIFY(itemsOf(p.dirs).contains("tools"));
            QVERIFY(dialog.choice().firstChange());
        }
    }

    void editorPathShowsProgramsAfterTheFirstDirectoryChange() {
        PathDialog dialog(m_app, PathDialogMode::EditorPath);
        open(dialog);
        Parts p = parts(dialog);
        QCOMPARE(itemsOf(p.files), QStringList{"notes.txt"});

        doubleClick(p.dirs, "tools");
        QCOMPARE(dialog.directory(), dir() + "/tools");
        QCOMPARE(dialog.choice().selectedPath(), dir() + "/tools/");
        QCOMPARE(p.pathLabel->text(), "\n" + dir() + "/tools/");
        QCOMPARE(itemsOf(p.files), QStringList{"edit.sh"});
        QVERIFY(!dialog.choice().firstChange());

        // "Sure" on a directory is refused; the dialog stays.
        sure(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        const Message& m = m_prompts->asked[0];
        QCOMPARE(m.text, std::string("Select wrong path\nPlsre-select"));
        QCOMPARE(m.title, std::string("Error"));
        QCOMPARE(m.icon, Icon::Question);
        QCOMPARE(m.buttons, Buttons::Ok);
        QVERIFY(m.beep);
        QVERIFY(dialog.isVisible());
        QVERIFY(m_app.settings.editorPath.empty());

        click(p.files, "edit.sh");
        QCOMPARE(p.pathLabel->text(), dir() + "/tools/edit.sh");
        sure(dialog);
        QCOMPARE(m_app.settings.editorPath, file("tools/edit.sh"));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // Only in memory.
        QVERIFY(!fs::exists(m_app.configPath));
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
        Parts p = parts(dialog);
        QCOMPARE(p.drives->itemText(0), QStringLiteral("/"));
        p.drives->setCurrentIndex(0);
        emit p.drives->activated(0);
        QCOMPARE(dialog.directory(), QStringLiteral("/"));
        QCOMPARE(dialog.choice().selectedPath(), QStringLiteral("/"));
        QCOMPARE(p.pathLabel->text(), QStringLiteral("\n/"));
        QCOMPARE(p.dirs->item(0)->text(), QStringLiteral("/"));
    }

    void aDirectoryThatCannotBeReadIsReportedAndTheListsStay() {
        PathDialog dialog(m_app, PathDialogMode::EditorPath);
        open(dialog);
        Parts p = parts(dialog);
        fs::remove_all(file("sub"));
        doubleClick(p.dirs, "sub");
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QVERIFY(m_prompts->asked[0].beep);
        QCOMPARE(m_prompts->asked[0].buttons, Buttons::Ok);
        QVERIFY(m_prompts->asked[0].text.find(file("sub")) != std::string::npos);
        QCOMPARE(dialog.directory(), dir());
        QVERIFY(dialog.choice().firstChange());
        QCOMPARE(itemsOf(p.files), QStringList{"notes.txt"});
    }

    void saveWritesTheTypedPathAndKeepsItForLaterSaves() {
        m_app.settings.baudRate = "4800";
        PathDialog dialog(m_app, PathDialogMode::SaveConfiguration);
        open(dialog);
        const std::string target = file("sub/shop1.cfg");
        parts(dialog).field->setText(QString::fromStdString(target));
        sure(dialog);
        QVERIFY(m_prompts->asked.empty());
        QCOMPARE(m_app.configPath, target);
        QCOMPARE(slurp(target), formatConfigLine(m_app.settings, target));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void aSaveThatFailsKeepsTheDialogAndTheOldPath() {
        const std::string before = m_app.configPath;
        PathDialog dialog(m_app, PathDialogMode::SaveConfiguration);
        open(dialog);
        parts(dialog).field->setText(QString::fromStdString(file("missing/x.cfg")));
        sure(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QCOMPARE(m_prompts->asked[0].icon, Icon::Exclamation);
        QVERIFY(m_prompts->asked[0].text.find(file("missing/x.cfg")) != std::string::npos);
        QCOMPARE(m_app.configPath, before);
        QVERIFY(dialog.isVisible());

        parts(dialog).field->clear();
        sure(dialog);
        QCOMPARE(m_prompts->asked.back().text, std::string("Select wrong path\nPlsre-select"));
    }

    void savingOverAFileThatIsNotAConfigurationAsksFirst() {
        const std::string program = file("o1234.nc");
        QVERIFY(writeWholeFile(program, "%\r\nG01 X10.\r\n%\r\n").isOk());
        PathDialog dialog(m_app, PathDialogMode::SaveConfiguration);
        open(dialog);
        Parts p = parts(dialog);
        click(p.files, "o1234.nc");
        QCOMPARE(p.field->text(), QString::fromStdString(program));

        m_prompts->answers = {Answer::No};
        sure(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QCOMPARE(m_prompts->asked[0].buttons, Buttons::YesNo);
        QVERIFY(m_prompts->asked[0].text.find(program) != std::string::npos);
        QCOMPARE(slurp(program), std::string("%\r\nG01 X10.\r\n%\r\n"));
        QVERIFY(dialog.isVisible());

        m_prompts->answers = {Answer::Yes};
        sure(dialog);
        QCOMPARE(slurp(program), formatConfigLine(m_app.settings, program));
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
        Parts p = parts(dialog);
        doubleClick(p.dirs, "sub");
        click(p.files, "shop1.cfg");
        sure(dialog);

        QVERIFY(m_prompts->asked.empty());
        QCOMPARE(m_app.settings, shop);
        QCOMPARE(m_app.codes.baudCode, std::int16_t(13));
        QCOMPARE(m_app.configPath, saved);
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void restoringAFileThatIsNotAConfigurationLeavesItAlone() {
        m_app.settings.baudRate = "4800";
        const std::string before = m_app.configPath;
        PathDialog dialog(m_app, PathDialogMode::RestoreConfiguration);
        QSignalSpy refreshed(&dialog, &PathDialog::proToolRan);
        open(dialog);
        click(parts(dialog).files, "notes.txt");
        sure(dialog);

        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QCOMPARE(m_prompts->asked[0].text, std::string("Welcome enter the Ferolan  "));
        QVERIFY(m_prompts->asked[0].beep);
        QCOMPARE(slurp(file("notes.txt")), std::string("notes"));
        QCOMPARE(m_app.settings, Settings{});
        QCOMPARE(m_app.codes.baudCode, std::int16_t(12));
        QCOMPARE(m_app.configPath, before);
        QCOMPARE(refreshed.count(), 1);
    }
};

QTEST_MAIN(PathDialogTest)
#include "path_dialog_test.moc"
