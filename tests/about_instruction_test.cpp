#include "AboutWindow.h"
#include "DataFiles.h"
#include "InstructionWindow.h"
#include "RecordingPrompts.h"

using namespace fbx;
using namespace fbx::ui;

class AboutInstructionTest : public QObject, test::WindowWorld {
    Q_OBJECT

private slots:
    void init() {
        freshWorld();
        setSharedDataDirs({});
    }

    void theInstructionWindowShowsTheManualAfreshAtEachOpening() {
        const QString builtIn = manualText(app.programDir);
        {
            InstructionWindow window(app);
            window.show();
            QTest::keyClicks(window.textBox(), "typed by the operator");
            QVERIFY(window.textBox()->toPlainText() != builtIn);
        }
        QCOMPARE(InstructionWindow(app).textBox()->toPlainText(), builtIn);
        // A shop's own manual in the start-up directory, changed between two openings.
        for (const char* notes : {"Our shop's own notes\n", "Notes, second edition\n"}) {
            write("ferobrixlan-manual.txt", notes);
            QCOMPARE(InstructionWindow(app).textBox()->toPlainText(), QString::fromLatin1(notes));
        }
    }

    void theStartupDirectoryComesBeforeTheSharedOnes() {
        test::TempDir shared;
        setSharedDataDirs({QString::fromStdString(shared.path())});
        QVERIFY(findDataFile(app.programDir, "brix1.bmp").isEmpty());
        for (const test::TempDir* dir : {&shared, &prompts->dir}) {
            QVERIFY(writeWholeFile(dir->file("brix1.bmp"), "picture").isOk());
            QCOMPARE(findDataFile(app.programDir, "brix1.bmp"),
                     QString::fromStdString(dir->file("brix1.bmp")));
        }
    }

    void theAboutWindowNamesTheProgramAndItsVersion() {
        AboutWindow window(app);
        QCOMPARE(window.findChild<QLabel*>("name")->text() + " " +
                     window.findChild<QLabel*>("version")->text(),
                 QStringLiteral("ferobrixlan Version " FEROBRIXLAN_TEST_VERSION));
        QVERIFY(window.findChild<QLabel*>("picture")->pixmap().isNull());  // no pictures anywhere
    }
};

QTEST_MAIN(AboutInstructionTest)
#include "about_instruction_test.moc"
