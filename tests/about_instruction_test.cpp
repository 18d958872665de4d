#include "DataFiles.h"
#include "InstructionWindow.h"
#include "RecordingPrompts.h"

using namespace fbx;
using namespace fbx::ui;

class AboutInstructionTest : public QObject, test::WindowWorld {
    Q_OBJECT

private slots:
    // A data file (here the shop's own manual) comes from the start-up
    // directory before the shared ones, read afresh at each opening.
    void theManualComesFromTheStartupDirectoryFirstAndAfreshAtEachOpening() {
        freshWorld();
        test::TempDir shared;
        setSharedDataDirs({QString::fromStdString(shared.path())});
        for (const test::TempDir* dir : {&shared, &prompts->dir}) {
            const std::string notes = "Notes kept in " + dir->path() + "\n";
            QVERIFY(writeWholeFile(dir->file("ferobrixlan-manual.txt"), notes).isOk());
            QCOMPARE(InstructionWindow(app).textBox()->toPlainText(),
                     QString::fromStdString(notes));
        }
    }
};

QTEST_MAIN(AboutInstructionTest)
#include "about_instruction_test.moc"
