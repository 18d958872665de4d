#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "AppContext.h"
#include "ConfigFile.h"
#include "MemorySerialPort.h"
#include "PosixSerialPort.h"
#include "ProTool.h"
#include "ProgramBox.h"
#include "ReceivedFile.h"
#include "RecordingPrompts.h"
#include "SendEngine.h"
#include "TempDir.h"
#include "TransferFlows.h"
#include "TransferWindow.h"

using namespace fbx;
using namespace fbx::ui;

namespace {

std::string program(int lines) {
    std::string text = "%\r\nO2001\r\n";
    for (int i = 0; i < lines; ++i)
        text += "N" + std::to_string(i) + " G01 X" + std::to_string(i % 300) + ".5 Y-2.25\r\n";
    return text + "M30\r\n%\r\n";
}

std::string readFile(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
}

QString textOf(QWidget& w, const char* name) {
    auto* label = w.findChild<QLabel*>(name);
    if (label) return label->text();
    auto* button = w.findChild<QPushButton*>(name);
    return button ? button->text() : QString();
}

// waitForFinished() answers false for a process that has already ended.
bool ended(QProcess& process) {
    return process.state() == QProcess::NotRunning || process.waitForFinished(10000);
}

void click(QWidget& w, const char* name) {
    auto* button = w.findChild<QPushButton*>(name);
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace

class TransferWindowTest : public QObject {
    Q_OBJECT

private:
    test::TempDir m_dir;
    AppContext m_app;
    MemorySerialPort* m_port = nullptr;

    void useMemoryPort(std::function<void(MemorySerialPort&)> setUp = {}) {
        m_app.makePort = [this, setUp]() -> std::unique_ptr<SerialPort> {
            auto port = std::make_unique<MemorySerialPort>();
            m_port = port.get();
            if (setUp) setUp(*port);
            return port;
        };
    }

private slots:
    void init() {
        m_app.settings = Settings{};
        ProTool(m_app.settings, m_app.codes);
        m_port = nullptr;
    }

    void portErrorAtOpening() {
        test::RecordingPrompts prompts;
        useMemoryPort([](MemorySerialPort& p) { p.openResult = SIO_OPENFAIL; });
        TransferWindow w(m_app);
        QVERIFY(!w.openSend(program(3), "o2001.nc"));
        QCOMPARE(prompts.texts(), std::vector<std::string>{"Port error"});
        QCOMPARE(prompts.asked[0].title, std::string("System Warm"));
        QCOMPARE(prompts.asked[0].icon, Icon::Stop);
    }

    void enterSendsAndEscInTheProgramBoxClosesAtOnce() {
        test::RecordingPrompts prompts;
        useMemoryPort([](MemorySerialPort& p) {
            p.onPut = [&p](std::uint8_t) {
                if (p.written.size() == 200) p.queueInput({19});  // the machine stops us
            };
        });
        TransferWindow w(m_app);
        QVERIFY(w.openSend(program(100), "o2001.nc"));
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Enter presses the focused button: "Send".
        auto* send = w.findChild<QPushButton*>("Command1");
        QCOMPARE(QApplication::focusWidget(), send);
        QTest::keyClick(send, Qt::Key_Return);
        QTRY_COMPARE(m_port->written.size(), size_t(200));
        // The operator clicked into the program box to scroll it: Esc still
        // quits from there.
        QTest::mouseClick(w.textBox()->viewport(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.textBox());
        QTest::keyClick(w.textBox(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 500);
        QCOMPARE(w.engine()->outcome(), Outcome::Stopped);
        QVERIFY(m_port->written.size() <= 201);
    }

    void aDncHoldTakesEditsOnlyAfterTheHeldLineWhoseHighlightGoesWithKeepOnAndResend() {
        test::RecordingPrompts prompts;
        m_app.settings.mode = "DNC";
        m_app.settings.sendingEdit = 1;
        useMemoryPort([](MemorySerialPort& p) {
            p.onPut = [&p](std::uint8_t) {
                if (p.written.ends_with("G01")) p.queueInput({19});  // in the first block
            };
        });
        const std::string text = "G01 X1\r\nG02 X2\r\nG03 X3\r\nM30\r\n";
        TransferWindow w(m_app);
        QVERIFY(w.openSend(text, "o.nc"));
        w.show();
        auto* send = static_cast<SendEngine*>(w.engine());
        ProgramBox* box = w.textBox();
        QCOMPARE(box->bytes(), text);
        auto holdInTheFirstBlock = [&](bool byEsc) {
            click(w, "Command1");
            QCOMPARE(textOf(w, "Label3"), QString("Waiting Machine Receive Singnal"));
            m_port->queueInput({17});
            QTRY_VERIFY(m_port->written.ends_with("G01"));
            if (byEsc)
                QTest::keyClick(&w, Qt::Key_Escape);  // "hold on"
            else
                click(w, "Command2");
            QCOMPARE(textOf(w, "Command1"), QString("Keep on"));
            QCOMPARE(textOf(w, "Command2"), QString("Aband on"));
            m_port->queueInput({17});
            QTRY_VERIFY(send->holding());
            QCOMPARE(box->selectedText(), QString("G02 X2\r\n"));
        };
        holdInTheFirstBlock(true);
        click(w, "Command3");  // "re-send"
        QVERIFY(!box->hasSelectedText());
        holdInTheFirstBlock(false);

        // Typing before the next unsent character is refused; after it, taken.
        box->setFocus();
        box->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 3UL);
        QTest::keyClicks(box, "Q");
        box->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 8UL);
        QTest::keyClick(box, Qt::Key_Delete);  // the "G" the send goes on with
        box->settle();
        QCOMPARE(send->sendBuffer(), text);
        box->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 9UL);
        QTest::keyClick(box, Qt::Key_Backspace);  // would take the "G" back: undone
        box->settle();
        QCOMPARE(box->refusedEdits(), 1);
        QCOMPARE(box->bytes(), text);
        QCOMPARE(send->sendBuffer(), text);
        box->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 13UL);  // after "X"
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, "7");
        box->settle();
        QCOMPARE(send->sendBuffer(), std::string("G01 X1\r\nG02 X7\r\nG03 X3\r\nM30\r\n"));
        QCOMPARE(box->bytes(), send->sendBuffer());

        click(w, "Command1");  // "Keep on"
        QVERIFY(!box->hasSelectedText());
        QTRY_COMPARE(textOf(w, "Label3"), QString("finish"));
        const std::string& out = m_port->written;
        QCOMPARE(out.substr(out.size() - 21), std::string("G02 X7\r\nG03 X3\r\nM30\r\n"));
        click(w, "Command1");
        QTRY_VERIFY(!w.isVisible());
    }

    void aPulledCableIsReportedNotFinished() {
        test::RecordingPrompts prompts;
        useMemoryPort([](MemorySerialPort& p) {
            p.onPut = [&p](std::uint8_t) {
                if (p.written.size() == 500) p.pullCable();
            };
        });
        TransferWindow w(m_app);
        QVERIFY(w.openSend(program(100), "o2001.nc"));
        w.show();
        QCOMPARE(w.windowTitle(), QString("Send : o2001.nc"));
        click(w, "Command1");
        QTRY_COMPARE(prompts.texts(), std::vector<std::string>{"Port error"});
        QCOMPARE(prompts.asked[0].detail, std::string("memory port: cable pulled"));
        QCOMPARE(textOf(w, "Label3"), QString("Port error"));
        QCOMPARE(textOf(w, "Label6"), QString("500"));
        QVERIFY(w.isVisible());  // the operator reads the figures, then closes
        click(w, "Command2");
        QTRY_VERIFY(!w.isVisible());
    }

    void aHeldSendShowsItsHoldAndAResendWhatWentOut() {
        test::RecordingPrompts prompts;
        useMemoryPort([](MemorySerialPort& p) {
            p.onPut = [&p](std::uint8_t) {
                if (p.written.size() == 200) p.queueInput({19});  // the machine holds us
            };
        });
        const std::string text = program(100);
        TransferWindow w(m_app);
        QVERIFY(w.openSend(text, "o2001.nc"));
        w.show();
        // The line indicator's light, as painted.
        auto light = [&w] {
            const QImage image = w.findChild<QLabel*>("lineLight")->grab().toImage();
            return image.pixelColor(image.width() / 2, image.height() / 2);
        };
        QCOMPARE(textOf(w, "lineState"), QString("line idle"));
        click(w, "Command1");
        QTRY_COMPARE_WITH_TIMEOUT(textOf(w, "lineState"),
                                  QString("held by the machine (DC3) for 1 s"), 3000);
        QVERIFY(light().red() > 200 && light().green() < 100);
        QCOMPARE(m_port->written.size(), size_t(200));

        click(w, "Command3");  // "re-send"
        QTRY_COMPARE(textOf(w, "lineState"), QString("line idle"));
        QVERIFY(light().red() == light().green());  // grey
        QCOMPARE(textOf(w, "Label3"), QString("Ready"));
        QCOMPARE(textOf(w, "Label6"), QString("200"));
        QCOMPARE(textOf(w, "Label7"), QString::number(text.size()));
        auto* bar = w.findChild<QProgressBar*>("ProgressBar1");
        QCOMPARE(bar->value(), 200);
        QCOMPARE(bar->maximum(), int(text.size()));
    }

    void nothingToSendIsNoFinish() {
        test::RecordingPrompts prompts;
        useMemoryPort();
        prompts.answers = {Answer::Cancel};  // "Data empty open nevtile?"
        TransferWindow w(m_app);
        QVERIFY(w.openSend("G0", "short.nc"));
        w.show();
        QCOMPARE(prompts.texts(), std::vector<std::string>{"Data empty open nevtile?"});
        click(w, "Command1");
        QTRY_COMPARE(textOf(w, "Label3"), QString("Nothing sent: no program text"));
        QCOMPARE(textOf(w, "Command1"), QString("Send"));
        QCOMPARE(textOf(w, "Label6"), QString("0"));
        auto* bar = w.findChild<QProgressBar*>("ProgressBar1");
        QVERIFY(bar->maximum() > bar->minimum());  // not the striped busy bar
        QCOMPARE(bar->value(), bar->minimum());
        QVERIFY(m_port->written.empty());
    }

    void aBoxWhileOpeningIsCentredOnTheWindowAndTheTextStaysAtItsTop() {
        m_app.settings.replaceString1 = "[67][1][84 69 83 84]";
        m_app.settings.replaceString2 = "[67][1][84 69 83 84]";  // a duplicate trigger
        m_app.settings.sendingEdit = 1;
        useMemoryPort();
        QWidget main;
        main.setGeometry(40, 30, 720, 540);
        main.show();
        TransferWindow w(m_app, &main);
        test::RecordingPrompts prompts;
        QPoint centreAtAsk;
        prompts.onAsk = [&](const Message&) {
            centreAtAsk = w.geometry().center();
            QTest::qWait(50);  // the box runs the event loop
        };
        QVERIFY(w.openSend(program(100), "o2001.nc"));
        QCOMPARE(prompts.asked.size(), size_t(1));
        QVERIFY((centreAtAsk - main.geometry().center()).manhattanLength() <= 2);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Where the box was centred, give or take the window's frame.
        QVERIFY((w.geometry().center() - centreAtAsk).manhattanLength() <= 8);
        QCOMPARE(w.textBox()->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE), 0L);
    }

    void theReceiveTargetIsChosenAmongNcPrograms() {
        test::RecordingPrompts prompts;
        prompts.saveNames = {""};
        ReceiveToFile(nullptr, m_app);
        QCOMPARE(prompts.fileQuestions.size(), size_t(1));
        QCOMPARE(
            dialogFilter(prompts.fileQuestions[0].filter),
            QString("*.txt (*.txt);;NC programs (*.nc *.tap *.cnc *.mpf *.txt);;All files (*)"));
    }

    void closingDuringAReceiveGoesThroughTheQuitPath() {
        test::RecordingPrompts prompts;
        useMemoryPort([](MemorySerialPort& p) { p.queueInput("G01 X1\r\n"); });
        const std::string target = m_dir.file("closing.nc");
        QVERIFY(ReceivedFile(target).prepare().isOk());
        TransferWindow w(m_app);
        QVERIFY(w.openReceive(QString::fromStdString(target)));
        w.show();
        QCOMPARE(textOf(w, "Label3"), QString("Receive waitting"));
        QCOMPARE(textOf(w, "Command1"), QString("finishing"));
        // Beside "Data received" no empty, unlabelled boxes.
        for (const char* unused : {"Label6", "Label7", "Label8", "Label9", "Label10", "lineLight"})
            QVERIFY2(!w.findChild<QLabel*>(unused)->isVisible(), unused);
        QTRY_COMPARE(textOf(w, "Label2"), QString("8"));
        prompts.answers = {Answer::Cancel};
        w.close();
        QVERIFY(w.isVisible());
        QVERIFY(!prompts.texts().empty());
        QCOMPARE(prompts.texts().back(), std::string("Quit receiving?"));
        w.close();
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(readFile(target), std::string("\r\nG01 X1\r\n"));
    }

    void sendAndReceiveThroughTheMachine() {
        test::RecordingPrompts prompts;
        const std::string link = m_dir.file("ttyMACHINE");
        m_app.makePort = [link] {
            return std::make_unique<PosixSerialPort>([link](int) { return link; });
        };
        const std::string text = program(4000);

        // Send: the machine stores what it gets.
        const std::string stored = m_dir.file("machine.nc");
        QProcess machine;
        machine.start(FBX_MACHINE, {"receive", "--link", QString::fromStdString(link), "--out",
                                    QString::fromStdString(stored), "--buffer", "2048", "--drain",
                                    "200000", "--quiet"});
        QTRY_VERIFY(std::filesystem::exists(link));
        {
            TransferWindow w(m_app);
            QVERIFY(w.openSend(text, "o2001.nc"));
            w.show();
            click(w, "Command1");
            QTRY_COMPARE_WITH_TIMEOUT(textOf(w, "Label3"), QString("finish"), 30000);
            QCOMPARE(textOf(w, "Label6"), QString::number(text.size()));
            click(w, "Command1");
            QTRY_VERIFY(!w.isVisible());
        }
        QVERIFY(ended(machine));
        QCOMPARE(machine.exitCode(), 0);
        QCOMPARE(readFile(stored), text);

        // Receive: the machine punches the program, "Data In/Out" keeps it
        // from the first "%" through the second.
        m_app.settings.mode = "Data In/Out";
        const std::string punched = m_dir.file("punch.nc");
        QVERIFY(writeWholeFile(punched, "leader\r\n" + text).isOk());
        QProcess puncher;
        puncher.start(FBX_MACHINE, {"punch", QString::fromStdString(punched), "--link",
                                    QString::fromStdString(link), "--leader", "30", "--quiet"});
        QTRY_VERIFY(std::filesystem::exists(link));
        const std::string target = m_dir.file("received.nc");
        QVERIFY(ReceivedFile(target).prepare().isOk());
        {
            TransferWindow w(m_app);
            QVERIFY(w.openReceive(QString::fromStdString(target)));
            w.show();
            QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 30000);
        }
        QVERIFY(!prompts.texts().empty());
        QCOMPARE(prompts.texts().back(), std::string("Data receive finish!!!?"));
        QVERIFY(ended(puncher));
        QCOMPARE(puncher.exitCode(), 0);
        QCOMPARE(readFile(target), "\r\n" + text.substr(0, text.size() - 2));
    }
};

QTEST_MAIN(TransferWindowTest)
#include "transfer_window_test.moc"
