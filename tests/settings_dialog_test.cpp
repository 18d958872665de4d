#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <QLabel>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

    void listsShowTheSettingsAndConfirmWithYesSavesThemAndRunsProTool() {
        // Each list, a value that tells it from the lists of the same kind, its number
        // of entries.
        const struct {
            const char* name;
            std::string Settings::*field;
            const char* value;
            int entries;
        } rows[] = {
            {"portList", &Settings::port, "2", 2},
            {"baudRateList", &Settings::baudRate, "38400", 6},
            {"dataBitsList", &Settings::dataBits, "6", 3},
            {"stopBitsList", &Settings::stopBits, "1", 2},
            {"parityList", &Settings::parity, "o", 3},
            {"modeList", &Settings::mode, "Data In/Out", 3},
            {"handshakeList", &Settings::handshake, "Brix", 2},
            {"codeList", &Settings::code, "EIA", 2},
            {"receiveViewList", &Settings::receiveView, "OFF", 2},
            {"sendViewList", &Settings::sendView, "ON", 2},
            {"serialIntervalList", &Settings::serialInterval, "100", 12},
        };
        for (const auto& row : rows) m_app.settings.*row.field = row.value;
        m_app.settings.replaceString1 = "[67][2][84 69 83 84]";
        SettingsDialog dialog(m_app);
        for (const auto& row : rows) {
            QComboBox* box = list(dialog, row.name);
            QVERIFY2(box && !box->isEditable(), row.name);
            QCOMPARE(box->currentText(), QString::fromLatin1(row.value));
            QCOMPARE(box->count(), row.entries);  // the value is one of the list's own
        }
        QSignalSpy refreshed(&dialog, &SettingsDialog::proToolRan);
        list(dialog, "baudRateList")->setCurrentText("19200");
        list(dialog, "parityList")->setCurrentText("n");
        confirm(dialog);

        QCOMPARE(m_prompts->texts(), std::vector<std::string>{"Save or not"});
        QCOMPARE(m_prompts->asked[0].buttons, Buttons::YesNo);
        QCOMPARE(m_app.settings.baudRate, std::string("19200"));
        QCOMPARE(m_app.settings.parity, std::string("n"));
        for (const auto& row : rows)
            if (row.field != &Settings::baudRate && row.field != &Settings::parity)
                QCOMPARE(m_app.settings.*row.field, std::string(row.value));
        // The whole record is written, the processing strings too.
        QCOMPARE(test::fileBytes(m_app.configPath),
                 formatConfigLine(m_app.settings, m_app.configPath));
        QVERIFY(test::fileBytes(m_app.configPath).find("[67][2][84 69 83 84]") !=
                std::string::npos);
        QCOMPARE(m_app.codes, (SerialCodes{2, 13, 0, 1, 0}));
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void confirmWithNoAppliesInMemoryOnly() {
        m_prompts->answers = {Answer::No};
        SettingsDialog dialog(m_app);
        QSignalSpy refreshed(&dialog, &SettingsDialog::proToolRan);
        list(dialog, "baudRateList")->setCurrentText("19200");
        confirm(dialog);
        QCOMPARE(m_app.settings.baudRate, std::string("19200"));
        QCOMPARE(m_app.codes.baudCode, std::int16_t(13));
        QCOMPARE(refreshed.count(), 1);
        QVERIFY(!std::filesystem::exists(m_app.configPath));
    }

    void aFailedSaveIsReportedWithThePath() {
        m_app.configPath = m_dir->file("missing/ferobrixlan.cfg");
        SettingsDialog dialog(m_app);
        confirm(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(2));
        QCOMPARE(m_prompts->asked[1].icon, Icon::Exclamation);
        QVERIFY(m_prompts->asked[1].text.find(m_app.configPath) != std::string::npos);
    }

    void aValueOutsideItsListIsShownAndKept() {
        m_app.settings.baudRate = "57600";
        SettingsDialog dialog(m_app);
        QCOMPARE(list(dialog, "baudRateList")->currentText(), QStringLiteral("57600"));
        m_prompts->answers = {Answer::No};
        confirm(dialog);
        QCOMPARE(m_app.settings.baudRate, std::string("57600"));
        QCOMPARE(m_app.codes.baudCode, std::int16_t(15));
    }

    void everyListShowsItsLongestEntryAndNothingOverlaps() {
        SettingsDialog dialog(m_app);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        // What a control shows: a caption only as wide as its text.
        auto shown = [](QWidget* w) {
            QRect r = w->geometry();
            if (auto* label = qobject_cast<QLabel*>(w)) r.setWidth(label->sizeHint().width());
            return r;
        };
        for (QWidget* control : controls) {
            if (auto* box = qobject_cast<QComboBox*>(control))
                QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->objectName()));
            for (QWidget* other : controls)
                QVERIFY2(control == other || !shown(control).intersects(shown(other)),
                         qPrintable(control->objectName() + " / " + other->objectName()));
        }
    }

    void theCheckBoxAppliesOnClickAndClosingAppliesNothingElse() {
        for (std::int16_t expected : {1, 0}) {
            SettingsDialog dialog(m_app);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            auto* check = dialog.findChild<QCheckBox*>("Check1");
            QCOMPARE(check->isChecked(), expected == 0);
            list(dialog, "baudRateList")->setCurrentText("1200");
            QTest::mouseClick(check, Qt::LeftButton);
            QCOMPARE(m_app.settings.sendingEdit, expected);
            dialog.close();
            QCOMPARE(m_app.settings.sendingEdit, expected);
            QCOMPARE(m_app.settings.baudRate, std::string("9600"));
        }
        QVERIFY(m_prompts->asked.empty());
    }

    void theDeviceOfTheChosenPortStandsBesideIt() {
        m_app.programDir = m_dir->path() + "/";
        {
            std::ofstream map(m_dir->file("ferobrixlan.ports"));
            map << "1=rfc2217://10.0.0.5:4001\n2=/dev/ttyUSB3\n";
        }
        unsetenv("FEROBRIXLAN_PORT1");
        setenv("FEROBRIXLAN_PORT2", "/dev/ttyACM0", 1);
        SettingsDialog dialog(m_app);
        auto* device = dialog.findChild<QLabel*>("portDevice");
        QVERIFY(device);
        QCOMPARE(device->toolTip(), QString("rfc2217://10.0.0.5:4001"));
        list(dialog, "portList")->setCurrentText("2");
        QCOMPARE(device->toolTip(), QString("/dev/ttyACM0"));  // the environment wins
        unsetenv("FEROBRIXLAN_PORT2");
        list(dialog, "portList")->setCurrentText("1");
        list(dialog, "portList")->setCurrentText("2");
        QCOMPARE(device->toolTip(), QString("/dev/ttyUSB3"));
        QVERIFY(!device->text().isEmpty());
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
