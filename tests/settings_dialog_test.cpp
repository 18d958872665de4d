#include <cstdlib>

#include "ProcessingDialog.h"
#include "RecordingPrompts.h"
#include "SettingsDialog.h"

using namespace fbx;
using namespace fbx::ui;

class SettingsDialogTest : public QObject, test::WindowWorld {
    Q_OBJECT

    QComboBox* list(SettingsDialog& d, const char* name) { return d.findChild<QComboBox*>(name); }
    QPushButton* confirm(QDialog& d) { return d.findChild<QPushButton*>("Command1"); }

private slots:
    void init() { freshWorld(); }

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
            {"receiveViewList", &Settings::receiveView, "OFF"},
            {"sendViewList", &Settings::sendView, "ON"},
            {"serialIntervalList", &Settings::serialInterval, "100"},
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
        for (std::int16_t expected : {1, 0}) {
            SettingsDialog dialog(app);
            dialog.show();
            list(dialog, "baudRateList")->setCurrentText("1200");
            QTest::mouseClick(dialog.findChild<QCheckBox*>("Check1"), Qt::LeftButton);
            dialog.close();
            QVERIFY(app.settings.sendingEdit == expected && app.settings.baudRate == "9600");
        }
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
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
