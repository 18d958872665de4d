#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "QtTestText.h"

#include "AppContext.h"
#include "ConfigFile.h"
#include "ProTool.h"
#include "RecordingPrompts.h"
#include "SettingsDialog.h"
#include "TempDir.h"

using namespace fbx;
using namespace fbx::ui;
using fbx::test::RecordingPrompts;
using fbx::test::TempDir;

namespace {

std::string slurp(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
}

QStringList entriesOf(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    return entries;
}

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<RecordingPrompts> m_prompts;
    AppContext m_app;

    QComboBox* list(SettingsDialog& d, const char* name) {
        return d.findChild<QComboBox*>(QString::fromLatin1(name));
    }
    void confirm(SettingsDialog& d) { d.findChild<QPushButton*>("Command1")->click(); }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        m_prompts = std::make_unique<RecordingPrompts>();
        m_app = AppContext{};
        m_app.configPath = m_dir->file("ferobrixlan.cfg");
        ProTool(m_app.settings, m_app.codes);
    }
    void cleanup() {
        m_prompts.reset();
        m_dir.reset();
    }

    void opensWithTheListsAndTheCurrentValues_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("selected");
        QTest::newRow("Port") << "portList" << QStringList{"1", "2"} << "1";
        QTest::newRow("Baudrate") << "baudRateList"
                                  << QStringList{"1200", "2400", "4800", "9600", "19200", "38400"}
                                  << "9600";
        QTest::newRow("Data Bit") << "dataBitsList" << QStringList{"6", "7", "8"} << "7";
        QTest::newRow("Stop bit") << "stopBitsList" << QStringList{"1", "2"} << "2";
        QTest::newRow("Check bit") << "parityList" << QStringList{"e", "o", "n"} << "e";
        QTest::newRow("mode") << "modeList" << QStringList{"Data In/Out", "DNC", "NOMAL"}
                              << "NOMAL";
        QTest::newRow("Handshaking") << "handshakeList" << QStringList{"Soft", "Brix"} << "Soft";
        QTest::newRow("Code") << "codeList" << QStringList{"ISO", "EIA"} << "ISO";
        QTest::newRow("REceive view") << "receiveViewList" << QStringList{"ON", "OFF"} << "ON";
        QTest::newRow("Send view") << "sendViewList" << QStringList{"ON", "OFF"} << "ON";
        QTest::newRow("Serial interval")
            << "serialIntervalList"
            << QStringList{"1", "2", "3", "4", "5", "10", "20", "30", "40", "50", "80", "100"}
            << "1";
    }
    void opensWithTheListsAndTheCurrentValues() {
        QFETCH(QString, name);
        QFETCH(QStringList, entries);
        QFETCH(QString, selected);
        SettingsDialog dialog(m_app);
        auto* box = dialog.findChild<QComboBox*>(name);
        QVERIFY(box);
        QVERIFY(!box->isEditable());
        QCOMPARE(entriesOf(box), entries);
        QCOMPARE(box->currentText(), selected);

        QCOMPARE(dialog.windowTitle(), QStringLiteral("Protocol"));
        auto* check = dialog.findChild<QCheckBox*>("Check1");
        QCOMPARE(check->text(), QStringLiteral("Sending Edit "));
        QVERIFY(!check->isChecked());
        auto* button = dialog.findChild<QPushButton*>("Command1");
        QCOMPARE(button->text(), QStringLiteral("Confirm"));
        QCOMPARE(button->toolTip(), QStringLiteral("Svae Exit"));
    }

    void confirmWithYesStoresSavesAndRunsProTool() {
        m_app.settings.replaceString1 = "[67][2][84 69 83 84]";
        m_app.settings.editorPath = "/usr/bin/mousepad";
        SettingsDialog dialog(m_app);
        QSignalSpy refreshed(&dialog, &SettingsDialog::proToolRan);
        list(dialog, "baudRateList")->setCurrentText("19200");
        list(dialog, "parityList")->setCurrentText("n");
        list(dialog, "dataBitsList")->setCurrentText("8");
        list(dialog, "modeList")->setCurrentText("DNC");
        list(dialog, "handshakeList")->setCurrentText("Brix");
        list(dialog, "sendViewList")->setCurrentText("OFF");
        list(dialog, "serialIntervalList")->setCurrentText("10");
        confirm(dialog);

        QCOMPARE(m_prompts->asked.size(), size_t(1));
        const Message& m = m_prompts->asked[0];
        QCOMPARE(m.text, std::string("Save or not"));
        QCOMPARE(m.title, std::string("Save"));
        QCOMPARE(m.buttons, Buttons::YesNo);
        QCOMPARE(m.icon, Icon::Question);

        QCOMPARE(m_app.settings.baudRate, std::string("19200"));
        QCOMPARE(m_app.settings.parity, std::string("n"));
        QCOMPARE(m_app.settings.mode, std::string("DNC"));
        QCOMPARE(m_app.settings.handshake, std::string("Brix"));
        QCOMPARE(m_app.settings.sendView, std::string("OFF"));
        QCOMPARE(m_app.settings.serialInterval, std::string("10"));
        // The whole record is written, processing strings and editor path too.
        QCOMPARE(slurp(m_app.configPath), formatConfigLine(m_app.settings, m_app.configPath));
        QCOMPARE(m_app.codes, (SerialCodes{1, 13, 0, 3, 4}));
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void confirmWithNoKeepsTheFile() {
        QVERIFY(saveSettings(m_app.settings, m_app.configPath).isOk());
        const std::string before = slurp(m_app.configPath);
        m_prompts->answers = {Answer::No};
        SettingsDialog dialog(m_app);
        QSignalSpy refreshed(&dialog, &SettingsDialog::proToolRan);
        list(dialog, "baudRateList")->setCurrentText("19200");
        confirm(dialog);

        QCOMPARE(m_app.settings.baudRate, std::string("19200"));
        QCOMPARE(m_app.codes.baudCode, std::int16_t(13));
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(slurp(m_app.configPath), before);
    }

    void aFailedSaveIsReportedWithThePath() {
        m_app.configPath = m_dir->file("missing/ferobrixlan.cfg");
        SettingsDialog dialog(m_app);
        confirm(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(2));
        const Message& m = m_prompts->asked[1];
        QCOMPARE(m.icon, Icon::Exclamation);
        QCOMPARE(m.title, std::string("Save"));
        QVERIFY(m.text.find(m_app.configPath) != std::string::npos);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void aValueOutsideItsListIsShownAndKept() {
        m_app.settings.baudRate = "57600";
        m_app.settings.port = "3";
        SettingsDialog dialog(m_app);
        QCOMPARE(list(dialog, "baudRateList")->currentText(), QStringLiteral("57600"));
        QCOMPARE(list(dialog, "baudRateList")->count(), 7);
        QCOMPARE(list(dialog, "portList")->currentText(), QStringLiteral("3"));
        m_prompts->answers = {Answer::No};
        confirm(dialog);
        QCOMPARE(m_app.settings.baudRate, std::string("57600"));
        QCOMPARE(m_app.settings.port, std::string("3"));
        QCOMPARE(m_app.codes.baudCode, std::int16_t(15));
    }

    void theCheckBoxAppliesOnClickAndClosingAppliesNothingElse() {
        SettingsDialog dialog(m_app);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* check = dialog.findChild<QCheckBox*>("Check1");
        list(dialog, "baudRateList")->setCurrentText("1200");
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(m_app.settings.sendingEdit, std::int16_t(1));
        dialog.close();
        QCOMPARE(m_app.settings.sendingEdit, std::int16_t(1));
        QCOMPARE(m_app.settings.baudRate, std::string("9600"));
        QVERIFY(m_prompts->asked.empty());

        SettingsDialog again(m_app);
        auto* box = again.findChild<QCheckBox*>("Check1");
        QVERIFY(box->isChecked());
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(m_app.settings.sendingEdit, std::int16_t(0));
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
