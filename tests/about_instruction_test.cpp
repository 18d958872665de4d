#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>

#include "QtTestText.h"

#include "AboutWindow.h"
#include "AppContext.h"
#include "ConfigFile.h"
#include "DataFiles.h"
#include "InstructionWindow.h"
#include "TempDir.h"

using namespace fbx;
using namespace fbx::ui;
using fbx::test::TempDir;

class AboutInstructionTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_dir;
    AppContext m_app;

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        m_app = AppContext{};
        m_app.programDir = m_dir->path() + "/";
        setSharedDataDirs({});
    }
    void cleanup() { m_dir.reset(); }

    void theManualCoversItsSectionsInOrderWithoutAWebAddress() {
        const QString manual = manualText(m_app.programDir);
        int at = 0;
        for (const char* heading :
             {"1. Transmission:", "2. Modes:", "3. Receiving :", "4. Edit :", "5. Setting==>",
              "Communication setting ==>", "6. Connection Cable", "7. Code",
              "8. Edit utensil :", "9. Processing String", "10. Select==>", "11. About ==>"}) {
            at = manual.indexOf(QString::fromLatin1(heading), at);
            QVERIFY2(at >= 0, heading);
        }
        for (const char* fact :
             {"FEROBRIXLAN_PORT1=/dev/ttyUSB0", "/dev/ttyS<N-1>", "dialout", "G4X0.001",
              "[67][2][84 69 83 84]     sends ASTEST TESTE",
              "[67][0][]                sends ASII ODE",
              "[67][2][67 84 69 83 84]  sends ASCTEST CTESTE", "25-pin to 25-pin",
              "9-pin PC to 25-pin", "OPEN , SAVE , Print , Cut , Copy , Paste ,"})
            QVERIFY2(manual.contains(QString::fromLatin1(fact)), fact);
        QVERIFY(!manual.contains("http", Qt::CaseInsensitive));
        QVERIFY(!manual.contains("www", Qt::CaseInsensitive));
    }

    void instructionWindowReadsTheManualAfreshAtEachOpening() {
        const QString builtIn = manualText(m_app.programDir);
        QVERIFY(!builtIn.isEmpty());
        {
            InstructionWindow window(m_app);
            QCOMPARE(window.textBox()->toPlainText(), builtIn);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTest::keyClicks(window.textBox(), "typed by the operator");
            QVERIFY(window.textBox()->toPlainText() != builtIn);
        }
        QCOMPARE(InstructionWindow(m_app).textBox()->toPlainText(), builtIn);
        // A manual of the shop's own in the start-up directory, changed
        // between two openings.
        for (const char* notes : {"Our shop's own notes\n", "Notes, second edition\n"}) {
            QVERIFY(writeWholeFile(m_dir->file("ferobrixlan-manual.txt"), notes).isOk());
            QCOMPARE(InstructionWindow(m_app).textBox()->toPlainText(), QString::fromLatin1(notes));
        }
    }

    void theStartupDirectoryComesBeforeTheSharedDirectories() {
        TempDir shared;
        setSharedDataDirs({QString::fromStdString(shared.path())});
        QVERIFY(findDataFile(m_app.programDir, "brix1.bmp").isEmpty());
        QVERIFY(writeWholeFile(shared.file("brix1.bmp"), "shared").isOk());
        QCOMPARE(findDataFile(m_app.programDir, "brix1.bmp"),
                 QString::fromStdString(shared.file("brix1.bmp")));
        QVERIFY(writeWholeFile(m_dir->file("brix1.bmp"), "own").isOk());
        QCOMPARE(findDataFile(m_app.programDir, "brix1.bmp"),
                 QString::fromStdString(m_dir->file("brix1.bmp")));
    }

    void aboutWindowNamesTheProgramAndItsVersion() {
        AboutWindow window(m_app);
        QCOMPARE(window.findChild<QLabel*>("name")->text(), QStringLiteral("ferobrixlan"));
        QCOMPARE(window.findChild<QLabel*>("version")->text(),
                 QStringLiteral("Version " FEROBRIXLAN_TEST_VERSION));
        // No pictures anywhere: the window still opens.
        QVERIFY(window.findChild<QLabel*>("picture")->pixmap().isNull());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

QTEST_MAIN(AboutInstructionTest)
#include "about_instruction_test.moc"
