#include "ProcessingDialog.h"
#include "RecordingPrompts.h"

using namespace fbx;
using namespace fbx::ui;

class ProcessingDialogTest : public QObject, test::WindowWorld {
    Q_OBJECT

private slots:
    void okStoresEveryBoxAndClosesOnlyWhenEachHasNoneOrSixBrackets() {
        // Text1 index -> field, as the dialog ties them.
        std::string Settings::*const fields[7] = {
            &Settings::starterString,  &Settings::terminationString, &Settings::replaceString1,
            &Settings::replaceString2, &Settings::replaceString3,    &Settings::replaceString4,
            &Settings::replaceString5};
        const std::pair<const char*, bool> texts[] = {
            {"", true},        {"[67][2][84 69 83 84]", true}, {"67 2 84", true}, {"]]][[[", true},
            {"[67][2", false}, {"[67][2][84]]", false}};
        for (const auto& [text, accepted] : texts) {
            freshWorld();
            for (int i = 0; i < 7; ++i)
                app.settings.*fields[i] = "[6" + std::to_string(i) + "][0][]";
            ProcessingDialog dialog(app);
            for (int i = 0; i < 7; ++i) {
                QCOMPARE(dialog.text1(i)->text().toStdString(), app.settings.*fields[i]);
                dialog.text1(i)->setText(i == 4 ? text : QStringLiteral("[%1][1][65]").arg(70 + i));
            }
            dialog.findChild<QPushButton*>("Command1")->click();
            QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
            QCOMPARE(prompts->texts(),
                     std::vector<std::string>(!accepted, "Input imcomplete,try again "));
            for (int i = 0; i < 7; ++i)  // stored either way
                QCOMPARE(app.settings.*fields[i],
                         i == 4 ? std::string(text) : "[" + std::to_string(70 + i) + "][1][65]");
        }
    }
};

QTEST_MAIN(ProcessingDialogTest)
#include "processing_dialog_test.moc"
