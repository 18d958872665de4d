#include <Qsci/qsciscintilla.h>

#include "Desktop.h"
#include "MemorySerialPort.h"
#include "ProgramBox.h"
#include "ReceivedFile.h"
#include "RecordingPrompts.h"
#include "SendEngine.h"
#include "TransferFlows.h"
#include "TransferWindow.h"

using namespace fbx;
using namespace fbx::ui;
using Sci = QsciScintillaBase;

namespace {

// A program of a hundred lines.
const std::string kProgram = QByteArray("G01 X1\r\n").repeated(100).toStdString();

QString textOf(QWidget& w, const char* name) {
    return w.findChild<QLabel*>(name)->text();
}

}  // namespace

class TransferWindowTest : public QObject, test::WindowWorld {
    Q_OBJECT

    // The window's port, a memory port; its machine sends DC3 once what went
    // out satisfies holdAt.
    MemorySerialPort* m_port = nullptr;
    std::function<bool(const std::string&)> holdAt = [](const std::string&) { return false; };

    // A transfer window showing, active, ready to send text.
    std::unique_ptr<TransferWindow> sending(const std::string& text, QWidget* parent = nullptr) {
        auto window = std::make_unique<TransferWindow>(app, parent);
        if (!window->openSend(text, "o2001.nc")) return nullptr;
        window->show();
        (void)QTest::qWaitForWindowActive(window.get());
        return window;
    }

private slots:
    void init() {
        freshWorld();
        app.makePort = [this]() -> std::unique_ptr<SerialPort> {
            auto port = std::make_unique<MemorySerialPort>();
            port->onPut = [this, p = port.get()](std::uint8_t) {
                if (holdAt(p->written)) p->queueInput({19});
            };
            m_port = port.get();
            return port;
        };
    }

    // Enter presses the focused "Send"; the light is red while the machine
    // holds the line; Esc in the program box quits; a send with nothing to
    // send shows an empty bar.
    void theLightIsRedWhileTheMachineHoldsAndEscInTheProgramBoxQuits() {
        holdAt = [](const std::string& out) { return out.size() == 200; };
        auto w = sending(kProgram);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(textOf(*w, "lineState").startsWith("held by the machine (DC3)"));
        const QImage light = w->findChild<QLabel*>("lineLight")->grab().toImage();
        const QColor colour = light.pixelColor(light.width() / 2, light.height() / 2);
        QVERIFY(colour.red() > 200 && colour.green() < 100);
        QTest::mouseClick(w->textBox()->viewport(), Qt::LeftButton);
        QTest::keyClick(w->textBox(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 500);
        QVERIFY(w->engine()->outcome() == Outcome::Stopped && textOf(*w, "Label6") == "200");
        prompts->answers = {Answer::Cancel};  // "Data empty open nevtile?"
        w = sending("G0");
        QTest::mouseClick(w->findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QTRY_COMPARE(textOf(*w, "Label3"), QString("Nothing sent: no program text"));
        auto* bar = w->findChild<QProgressBar*>("ProgressBar1");
        QVERIFY(bar->maximum() > bar->minimum() && bar->value() == bar->minimum());
    }

    void aDncHoldTakesEditsOnlyAfterTheHeldLineAndFocusKeysChangeNothing() {
        app.settings.mode = "DNC";
        app.settings.sendingEdit = 1;
        holdAt = [](const std::string& out) { return out.ends_with("G01"); };
        const std::string text = "G01 X1\r\nG02 X2\r\nG03 X3\r\nM30\r\n";
        auto w = sending(text);
        auto* send = static_cast<SendEngine*>(w->engine());
        ProgramBox* box = w->textBox();
        QTest::mouseClick(w->findChild<QPushButton*>("Command1"), Qt::LeftButton);
        m_port->queueInput({17});
        QTRY_VERIFY(m_port->written.ends_with("G01"));
        QTest::keyClick(w.get(), Qt::Key_Escape);  // a hold at the end of the block
        m_port->queueInput({17});
        QTRY_VERIFY(send->holding());
        QCOMPARE(box->selectedText(), QString("G02 X2\r\n"));
        // Keys that move the focus leave the box and change nothing.
        const std::pair<Qt::Key, Qt::KeyboardModifiers> focusKeys[] = {
            {Qt::Key_Tab, Qt::NoModifier},
            {Qt::Key_Backtab, Qt::ShiftModifier},
            {Qt::Key_Tab, Qt::ControlModifier}};
        for (auto [key, modifiers] : focusKeys) {
            box->setFocus();
            QTest::keyClick(box, key, modifiers);
            QVERIFY(QApplication::focusWidget() != box);
        }
        // Typing before the next unsent character is refused; after it, taken.
        box->setFocus();
        auto typeAt = [box](unsigned long at, auto... keys) {
            box->SendScintilla(Sci::SCI_GOTOPOS, at);
            (QTest::keyClick(box, keys), ...);
            box->settle();
        };
        typeAt(3UL, 'Q');
        typeAt(8UL, Qt::Key_Delete);     // the "G" the send goes on with
        typeAt(9UL, Qt::Key_Backspace);  // would take the "G" back: undone
        QCOMPARE(box->refusedEdits(), 1);
        QCOMPARE(send->sendBuffer(), text);
        typeAt(13UL, Qt::Key_Delete, '7');
        typeAt(22UL, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_X, Qt::AltModifier);  // no button's key: types nothing
        box->settle();
        const std::string edited = "G01 X1\r\nG02 X7\r\nG03 X3\r\n\r\nM30\r\n";
        QCOMPARE(send->sendBuffer(), edited);
        QCOMPARE(box->bytes(), edited);

        QTest::keyClick(box, Qt::Key_K, Qt::AltModifier);  // "Keep on", from the box
        QVERIFY(!box->hasSelectedText());
        QTRY_COMPARE(textOf(*w, "Label3"), QString("finish"));
        QVERIFY(m_port->written.ends_with(edited.substr(8)));
    }

    void aBoxWhileOpeningIsCentredOnTheWindowWhichShowsWholeRows() {
        app.settings.replaceString1 = "[67][1][84 69 83 84]";
        app.settings.replaceString2 = "[67][1][84 69 83 84]";  // a duplicate trigger
        app.settings.sendingEdit = 1;
        QWidget main;
        main.setGeometry(40, 30, 720, 540);
        main.show();
        auto w = std::make_unique<TransferWindow>(app, &main);
        QVERIFY(w->openSend(kProgram, "o2001.nc"));
        // The duplicate's box has been asked; it stood on the window, which
        // was already centred on the main window though not yet shown.
        QCOMPARE(prompts->asked.size(), 1u);
        QVERIFY((w->geometry().center() - main.geometry().center()).manhattanLength() <= 2);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        ProgramBox* box = w->textBox();
        const int row = int(box->SendScintilla(Sci::SCI_TEXTHEIGHT, 0UL)), base = w->height();
        for (int height = base; height < base + 2 * row; height += 3) {
            w->resize(w->width(), height);
            box->SendScintilla(Sci::SCI_DOCUMENTEND);
            QTRY_COMPARE(box->viewport()->height() % row, 0);
        }
    }

    void closingDuringAReceiveGoesThroughTheQuitPath() {
        const std::string target = file("closing.nc");
        QVERIFY(ReceivedFile(target).prepare().isOk());
        TransferWindow w(app);
        QVERIFY(w.openReceive(QString::fromStdString(target)));
        m_port->queueInput("G01 X1\r\n");
        w.show();
        QTRY_COMPARE(textOf(w, "Label2"), QString("8"));
        prompts->answers = {Answer::Cancel};
        w.close();
        QVERIFY(w.isVisible());
        QCOMPARE(prompts->asked.at(0).text, std::string("Quit receiving?"));
        w.close();
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(test::fileBytes(target), std::string("\r\nG01 X1\r\n"));
    }

    void theFileDialogsStartWhereAProgramWasLastChosen() {
        const QString home = QString::fromStdString(prompts->dir.path()), folder = home + "/nc";
        QDir(home).mkdir("nc");
        QVERIFY(writeWholeFile(file("nc/o1.nc"), kProgram).isOk());
        prompts->saveNames = {home + "/received.nc"};
        QCOMPARE(test::closeModal([&] { SendFile(nullptr, app, folder + "/o1.nc"); }), "Form3");
        QCOMPARE(test::closeModal([&] { ReceiveToFile(nullptr, app); }), "Form3");
        QCOMPARE(recentPrograms(), QStringList{folder + "/o1.nc"});
        ChooseAndSendFile(nullptr, app);
        ReceiveToFile(nullptr, app);
        QStringList folders;
        for (const FileQuestion& question : prompts->fileQuestions) folders << question.fileName;
        QCOMPARE(folders, (QStringList{folder, home, home}));
        // "*.*" takes files without an extension too.
        QCOMPARE(dialogFilter(prompts->fileQuestions[1].filter), QString("*.* (*)"));
    }
};

QTEST_MAIN(TransferWindowTest)
#include "transfer_window_test.moc"
