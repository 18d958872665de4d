#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest>

#include "QtTestText.h"

#include "AboutWindow.h"
#include "AppContext.h"
#include "ConfigFile.h"
#include "DataFiles.h"
#include "InstructionWindow.h"
#include "Look.h"
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
        QVERIFY(!manual.isEmpty());
        int at = 0;
        for (const char* heading :
             {"1. Transmission:", "2. Modes:", "3. Receiving :", "4. Edit :", "5. Setting==>",
              "Communication setting ==>", "6. Connection Cable", "7. Code",
              "8. Edit utensil :", "9. Processing String", "10. Select==>", "11. About ==>"}) {
            const int found = manual.indexOf(QString::fromLatin1(heading), at);
            QVERIFY2(found >= 0, heading);
            at = found;
        }
        for (const char* fact :
             {"FEROBRIXLAN_PORT1=/dev/ttyUSB0", "/dev/ttyS<N-1>", "dialout", "G4X0.001",
              "[67][2][84 69 83 84]     sends ASTEST TESTE",
              "[67][0][]                sends ASII ODE",
              "[67][2][67 84 69 83 84]  sends ASCTEST CTESTE", "25-pin to 25-pin",
              "9-pin PC to 25-pin", "OPEN , SAVE , Print , Cut , Copy , Paste ,"}) {
            QVERIFY2(manual.contains(QString::fromLatin1(fact)), fact);
        }
        QVERIFY(!manual.contains("http", Qt::CaseInsensitive));
        QVERIFY(!manual.contains("www", Qt::CaseInsensitive));
    }

    void instructionWindowShowsTheManualAfreshAtEachOpening() {
        QString shown;
        {
            InstructionWindow window(m_app);
            QCOMPARE(window.windowTitle(), QStringLiteral("Instruction"));
            QPlainTextEdit* box = window.textBox();
            QVERIFY(!box->isReadOnly());
            QCOMPARE(box->font().pointSizeF(), 12.0);
            QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            shown = box->toPlainText();
            QCOMPARE(shown, manualText(m_app.programDir));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTest::keyClicks(box, "typed by the operator");
            QVERIFY(box->toPlainText() != shown);
        }
        InstructionWindow again(m_app);
        QCOMPARE(again.textBox()->toPlainText(), shown);
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

        QVERIFY(
            writeWholeFile(m_dir->file("ferobrixlan-manual.txt"), "Our shop's own notes\n").isOk());
        InstructionWindow window(m_app);
        QCOMPARE(window.textBox()->toPlainText(), QStringLiteral("Our shop's own notes\n"));
    }

    void aboutWindowNamesTheProgramWithoutAMoviePlayer() {
        AboutWindow window(m_app);
        QCOMPARE(window.windowTitle(), QStringLiteral(" "));
        QCOMPARE(window.size(), QSize(twips(7455, &window), twips(5670, &window)));
        QCOMPARE(window.findChild<QLabel*>("name")->text(), QStringLiteral("ferobrixlan"));
        QCOMPARE(window.findChild<QLabel*>("version")->text(),
                 QStringLiteral("Version " FEROBRIXLAN_TEST_VERSION));
        QVERIFY(!window.findChild<QLabel*>("description")->text().isEmpty());
        // No pictures anywhere: the window still opens and closes normally.
        QVERIFY(window.findChild<QLabel*>("picture")->pixmap().isNull());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.close();
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(AboutInstructionTest)
#include "about_instruction_test.moc"
