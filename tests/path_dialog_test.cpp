#include <filesystem>

#include "PathDialog.h"
#include "RecordingPrompts.h"

using namespace fbx;
using namespace fbx::ui;
namespace fs = std::filesystem;

// The start-up directory holds tools/edit.sh (executable), notes.txt and
// sub/; each dialog is shown and its lists read by their texts.
class PathDialogTest : public QObject, test::WindowWorld {
    Q_OBJECT

    QString m_dir;

    template <class T = QListWidget>
    T* child(PathDialog& d, const char* name) {
        return d.findChild<T*>(name);
    }
    QString pathLabel(PathDialog& d) { return child<QLabel>(d, "Label2")->text(); }
    // Clicks an entry of the list named; twice: double-clicks it.
    void click(PathDialog& d, const char* list, const QString& text, bool twice = false) {
        auto* widget = child(d, list);
        const QPoint at =
            widget->visualItemRect(widget->findItems(text, Qt::MatchExactly).value(0)).center();
        QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, at);
        if (twice) QTest::mouseDClick(widget->viewport(), Qt::LeftButton, {}, at);
    }
    void sure(PathDialog& d) { child<QPushButton>(d, "Command1")->click(); }
    std::unique_ptr<PathDialog> open(PathDialogMode mode) {
        auto dialog = std::make_unique<PathDialog>(app, mode);
        dialog->show();
        (void)QTest::qWaitForWindowActive(dialog.get());
        return dialog;
    }

private slots:
    void init() {
        freshWorld();
        fs::create_directories(file("tools"));
        fs::create_directories(file("sub"));
        write("tools/edit.sh", "#!/bin/sh\n");
        fs::permissions(file("tools/edit.sh"), fs::perms::owner_all);
        write("notes.txt", "notes");
        m_dir = QDir::currentPath();
    }

    void theKeysAloneChooseAnEditorAndCancelAppliesNothing() {
        auto dialog = open(PathDialogMode::EditorPath);
        click(*dialog, "File1", "notes.txt");
        child<QPushButton>(*dialog, "cancel")->click();
        QVERIFY(!dialog->isVisible() && dialog->result() == QDialog::Rejected);
        dialog = open(PathDialogMode::EditorPath);
        child(*dialog, "Dir1")->setFocus();
        QTest::keyClicks(QApplication::focusWidget(), "to");  // a name typed jumps to it
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(dialog->directory(), m_dir + "/tools");
        child(*dialog, "File1")->setFocus();  // a focus frame on the first file, no highlight
        QCOMPARE(pathLabel(*dialog), "\n" + m_dir + "/tools/");
        QTest::keyClicks(QApplication::focusWidget(), "ed");
        QCOMPARE(pathLabel(*dialog), m_dir + "/tools/edit.sh");
        child<QPushButton>(*dialog, "Command1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(prompts->asked.empty() && dialog->result() == QDialog::Accepted);
        QCOMPARE(app.settings.editorPath, file("tools/edit.sh"));
        QVERIFY(!fs::exists(app.configPath));  // in memory only
    }

    void theRootGetsNoDoubledSeparatorAndAnUnreadableDirectoryIsSaid() {
        auto dialog = open(PathDialogMode::RestoreConfiguration);
        emit child<QComboBox>(*dialog, "Drive1")->activated(0);  // "/"
        QCOMPARE(dialog->directory() + pathLabel(*dialog), QStringLiteral("/\n/"));
        dialog = open(PathDialogMode::EditorPath);
        fs::remove_all(file("sub"));
        click(*dialog, "Dir1", "sub", true);
        QVERIFY(prompts->asked.size() == 1 &&
                prompts->asked[0].text.find(file("sub")) != std::string::npos);
        QVERIFY(dialog->directory() == m_dir && dialog->choice().firstChange());
    }

    void savingGoesToTheTypedPathAskingBeforeItReplacesAnotherFile() {
        const std::string program = file("o1234.nc");
        write("o1234.nc", "%\r\nG01 X10.\r\n%\r\n");
        auto dialog = open(PathDialogMode::SaveConfiguration);
        child<QLineEdit>(*dialog, "Text1")->setText(QString::fromStdString(file("missing/x.cfg")));
        sure(*dialog);  // cannot be written: said, the old path kept
        QVERIFY(prompts->asked.back().text.find(file("missing/x.cfg")) != std::string::npos);
        QCOMPARE(app.configPath, file("ferobrixlan.cfg"));
        click(*dialog, "File1", "o1234.nc");
        prompts->answers = {Answer::No, Answer::Yes};
        sure(*dialog);
        QVERIFY(prompts->asked.back().buttons == Buttons::YesNo && dialog->isVisible());
        QCOMPARE(test::fileBytes(program), std::string("%\r\nG01 X10.\r\n%\r\n"));
        sure(*dialog);
        QCOMPARE(test::fileBytes(program), formatConfigLine(app.settings, program));
        QVERIFY(app.configPath == program && dialog->result() == QDialog::Accepted);
    }

    void aRestoreTakesAConfigurationAndLeavesAnyOtherFileAlone() {
        Settings shop;
        shop.baudRate = "19200";
        QVERIFY(saveSettings(shop, file("sub/shop1.cfg")).isOk());
        app.settings.baudRate = "4800";
        // notes.txt: the defaults in memory, the file and the old path kept.
        const std::pair<const char*, std::string> cases[] = {
            {"notes.txt", app.configPath}, {"sub/shop1.cfg", file("sub/shop1.cfg")}};
        for (const auto& [chosen, configPath] : cases) {
            auto dialog = open(PathDialogMode::RestoreConfiguration);
            QSignalSpy refreshed(dialog.get(), &PathDialog::proToolRan);
            if (configPath != app.configPath) click(*dialog, "Dir1", "sub", true);
            click(*dialog, "File1", QFileInfo(chosen).fileName());
            sure(*dialog);
            QVERIFY(refreshed.count() == 1 && app.configPath == configPath);
            QCOMPARE(app.codes.baudCode,
                     std::int16_t(configPath == file("sub/shop1.cfg") ? 13 : 12));
        }
        QCOMPARE(prompts->texts(), std::vector<std::string>{"Welcome enter the Ferolan  "});
        QVERIFY(test::fileBytes(file("notes.txt")) == "notes" && app.settings == shop);
    }
};

QTEST_MAIN(PathDialogTest)
#include "path_dialog_test.moc"
