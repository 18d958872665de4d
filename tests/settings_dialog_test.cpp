#include <cstdlib>
#include <filesystem>

#include "PathDialog.h"
#include "ProcessingDialog.h"
#include "RecordingPrompts.h"
#include "SettingsDialog.h"

using namespace fbx;
using namespace fbx::ui;
namespace fs = std::filesystem;

// The settings, processing and path dialogs. The start-up directory holds
// tools/edit.sh (executable), notes.txt and sub/; each path dialog is shown
// and its lists read by their texts.
class SettingsDialogTest : public QObject, test::WindowWorld {
    Q_OBJECT

    QString m_dir;

    QComboBox* list(SettingsDialog& d, const char* name) { return d.findChild<QComboBox*>(name); }
    QPushButton* confirm(QDialog& d) { return d.findChild<QPushButton*>("Command1"); }
    template <class T = QListWidget>
    T* child(PathDialog& d, const char* name) {
        return d.findChild<T*>(name);
    }
    QString pathLabel(PathDialog& d) { return child<QLabel>(d, "Label2")->text(); }
    // Clicks an entry of the list named; twice: double-clicks it.
    void click(PathDialog& d, const char* name, const QString& text, bool twice = false) {
        auto* widget = child(d, name);
        const QPoint at =
            widget->visualItemRect(widget->findItems(text, Qt::MatchExactly).value(0)).center();
        QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, at);
        if (twice) QTest::mouseDClick(widget->viewport(), Qt::LeftButton, {}, at);
    }
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

    // Each list shows its setting (a value that tells it from the lists of
    // its kind); Confirm takes them all and saves the whole record, the
    // processing strings too, on Yes only.
    void listsShowTheSettingsAndConfirmSavesThemOnYesOnly() {
        const struct {
            const char* name;
            std::string Settings::*field;
            const char* value;
        } rows[] = {
            // clang-format off
            {"portList", &Settings::port, "2"},      {"baudRateList", &Settings::baudRate, "38400"},
            {"dataBitsList", &Settings::dataBits, "6"}, {"stopBitsList", &Settings::stopBits, "1"},
            {"parityList", &Settings::parity, "o"},  {"modeList", &Settings::mode, "Data In/Out"},
            {"handshakeList", &Settings::handshake, "Brix"}, {"codeList", &Settings::code, "EIA"},
            // clang-format on
        };
        app.settings.replaceString1 = "[67][2][84 69 83 84]";
        for (Answer save : {Answer::No, Answer::Yes}) {
            for (const auto& row : rows) app.settings.*row.field = row.value;
            SettingsDialog dialog(app);
            for (const auto& row : rows)
                QCOMPARE(list(dialog, row.name)->currentText(), QString::fromLatin1(row.value));
            QSignalSpy refreshed(&dialog, &SettingsDialog::proToolRan);
            list(dialog, "baudRateList")->setCurrentText("19200");
            prompts->answers = {save};
            confirm(dialog)->click();
            QVERIFY(app.settings.baudRate == "19200" && app.settings.mode == "Data In/Out");
            QVERIFY(app.codes.portNumber == 2 && app.codes.baudCode == 13);
            QVERIFY(refreshed.count() == 1 && dialog.result() == QDialog::Accepted);
            QVERIFY(test::fileBytes(app.configPath) ==
                    (save == Answer::Yes ? formatConfigLine(app.settings, app.configPath) : ""));
        }
    }

    void theCheckBoxAppliesOnClickAndClosingAppliesNothingElse() {
        SettingsDialog dialog(app);
        dialog.show();
        list(dialog, "baudRateList")->setCurrentText("1200");
        QTest::mouseClick(dialog.findChild<QCheckBox*>("Check1"), Qt::LeftButton);
        dialog.close();
        QVERIFY(app.settings.sendingEdit == 1 && app.settings.baudRate == "9600");
        QVERIFY(prompts->asked.empty());
    }

    // Port 7 is in no list: kept. Enter on Confirm confirms; a save that fails is said.
    void everyMappedPortCanBeChosenAndEnterConfirms() {
        write("ferobrixlan.ports",
              "4=tcp://10.0.0.6:4002\n1=rfc2217://10.0.0.5:4001\n2=/dev/ttyUSB3\n3=/dev/ttyS9\n");
        setenv("FEROBRIXLAN_PORT2", "/dev/ttyACM0", 1);  // the environment comes first
        app.settings.port = "7";                         // from a hand-edited file
        app.configPath = file("missing/ferobrixlan.cfg");
        SettingsDialog dialog(app);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QComboBox* ports = list(dialog, "portList");
        auto* device = dialog.findChild<QLabel*>("portDevice");
        QStringList seen;
        for (int i = 0; i < ports->count(); ++i) {
            ports->setCurrentIndex(i);
            seen << ports->currentText() + "=" + device->toolTip();
        }
        unsetenv("FEROBRIXLAN_PORT2");
        QCOMPARE(seen, (QStringList{"1=rfc2217://10.0.0.5:4001", "2=/dev/ttyACM0", "3=/dev/ttyS9",
                                    "4=tcp://10.0.0.6:4002", "7=/dev/ttyS6"}));
        ports->setCurrentText("4");
        confirm(dialog)->setFocus();
        QTest::keyClick(confirm(dialog), Qt::Key_Return);
        QVERIFY(!dialog.isVisible() && app.codes.portNumber == 4);
        QVERIFY(prompts->asked.back().text.find(app.configPath) != std::string::npos);
    }

    void processingOkStoresEveryBoxAndClosesOnlyWhenEachHasNoneOrSixBrackets() {
        // Text1 index -> field, as the dialog ties them; the box of index 4
        // gets the text of the row, the others a text of six brackets.
        std::string Settings::*const fields[7] = {
            &Settings::starterString,  &Settings::terminationString, &Settings::replaceString1,
            &Settings::replaceString2, &Settings::replaceString3,    &Settings::replaceString4,
            &Settings::replaceString5};
        const std::pair<const char*, bool> texts[] = {
            {"", true},        {"[67][2][84 69 83 84]", true}, {"67 2 84", true}, {"]]][[[", true},
            {"[67][2", false}, {"[67][2][84]]", false}};
        for (const auto& [text, accepted] : texts) {
            freshWorld();
            ProcessingDialog dialog(app);
            for (int i = 0; i < 7; ++i)
                dialog.text1(i)->setText(i == 4 ? text : QStringLiteral("[%1][1][65]").arg(70 + i));
            confirm(dialog)->click();
            QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
            QCOMPARE(prompts->asked.size(), std::size_t(!accepted));
            for (int i = 0; i < 7; ++i)  // stored either way
                QCOMPARE(app.settings.*fields[i],
                         i == 4 ? std::string(text) : "[" + std::to_string(70 + i) + "][1][65]");
        }
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
        confirm(*dialog)->click();  // cannot be written: said, the old path kept
        QVERIFY(prompts->asked.back().text.find(file("missing/x.cfg")) != std::string::npos);
        QCOMPARE(app.configPath, file("ferobrixlan.cfg"));
        click(*dialog, "File1", "o1234.nc");
        prompts->answers = {Answer::No, Answer::Yes};
        confirm(*dialog)->click();
        QVERIFY(prompts->asked.back().buttons == Buttons::YesNo && dialog->isVisible());
        QCOMPARE(test::fileBytes(program), std::string("%\r\nG01 X10.\r\n%\r\n"));
        confirm(*dialog)->click();
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
            confirm(*dialog)->click();
            QVERIFY(refreshed.count() == 1 && app.configPath == configPath);
            QCOMPARE(app.codes.baudCode,
                     std::int16_t(configPath == file("sub/shop1.cfg") ? 13 : 12));
        }
        QCOMPARE(prompts->asked.at(0).text, std::string("Welcome enter the Ferolan  "));
        QVERIFY(test::fileBytes(file("notes.txt")) == "notes" && app.settings == shop);
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
