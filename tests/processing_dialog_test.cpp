#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "QtTestText.h"

#include "AppContext.h"
#include "ProcessingDialog.h"
#include "RecordingPrompts.h"

using namespace fbx;
using namespace fbx::ui;
using fbx::test::RecordingPrompts;

namespace {

// Text1 index -> field, as the dialog ties them.
std::string Settings::*const kFields[7] = {&Settings::starterString,  &Settings::terminationString,
                                           &Settings::replaceString1, &Settings::replaceString2,
                                           &Settings::replaceString3, &Settings::replaceString4,
                                           &Settings::replaceString5};

}  // namespace

class ProcessingDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RecordingPrompts> m_prompts;
    AppContext m_app;

    void ok(ProcessingDialog& d) { d.findChild<QPushButton*>("Command1")->click(); }

private slots:
    void init() {
        m_prompts = std::make_unique<RecordingPrompts>();
        m_app = AppContext{};
    }
    void cleanup() { m_prompts.reset(); }

    void okChecksTheBracketsOfEachBox_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("a whole rule") << "[67][2][84 69 83 84]" << true;
        QTest::newRow("no bracket") << "67 2 84" << true;
        QTest::newRow("six in any order") << "]]][[[" << true;
        QTest::newRow("cut off, three") << "[67][2" << false;
        QTest::newRow("seven") << "[67][2][84]]" << false;
    }
    void okChecksTheBracketsOfEachBox() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        ProcessingDialog dialog(m_app);
        dialog.text1(2)->setText(text);
        ok(dialog);
        QCOMPARE(m_app.settings.replaceString1, text.toStdString());  // stored either way
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(m_prompts->texts(), accepted
                                         ? std::vector<std::string>{}
                                         : std::vector<std::string>{"Input imcomplete,try again "});
        if (!accepted) QVERIFY(m_prompts->asked[0].beep);
    }

    void eachBoxShowsItsFieldAndOneBadBoxFailsTheDialogButEveryTextIsStored() {
        for (int i = 0; i < 7; ++i)
            m_app.settings.*kFields[i] = "[" + std::to_string(60 + i) + "][0][]";
        ProcessingDialog dialog(m_app);
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(dialog.text1(i)->text().toStdString(), m_app.settings.*kFields[i]);
            dialog.text1(i)->setText(QStringLiteral("[%1][1][65]").arg(70 + i));
        }
        dialog.text1(6)->setText("[76][1");
        ok(dialog);
        QCOMPARE(m_prompts->asked.size(), size_t(1));
        QVERIFY(dialog.result() != QDialog::Accepted);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(m_app.settings.*kFields[i], "[" + std::to_string(70 + i) + "][1][65]");
        QCOMPARE(m_app.settings.replaceString5, std::string("[76][1"));

        // Corrected, the second "O K" closes it.
        dialog.text1(6)->clear();
        ok(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(m_app.settings.replaceString5.empty());
    }

    void tabRunsStaterTerminationReplace2To5Replace1ThenOk() {
        ProcessingDialog dialog(m_app);
        const int order[] = {0, 1, 3, 4, 5, 6, 2};
        QWidget* w = dialog.text1(order[0]);
        for (int i = 1; i <= 7; ++i) {
            do w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus);
            QCOMPARE(w, i < 7 ? static_cast<QWidget*>(dialog.text1(order[i]))
                              : dialog.findChild<QPushButton*>("Command1"));
        }
    }
};

QTEST_MAIN(ProcessingDialogTest)
#include "processing_dialog_test.moc"
