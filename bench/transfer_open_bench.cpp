// Opens a large NC program in the transfer window with "Sending Edit " on
// (the whole program in the text box, ready to be edited) and, as the peer,
// loads the same bytes into a bare QScintilla text area; prints the time
// until each is painted, then the time one typed key near the end of the
// program takes in each (the window passes every edit to the send engine).
//
//   transfer_open_bench FILE
//
// Run it offscreen (QT_QPA_PLATFORM=offscreen) or under xvfb-run.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <Qsci/qsciscintilla.h>
#include <cstdio>

#include "AppContext.h"
#include "ConfigFile.h"
#include "MemorySerialPort.h"
#include "ProTool.h"
#include "ProgramBox.h"
#include "TransferWindow.h"

namespace {

// Milliseconds from now until w has painted.
double untilPainted(QWidget* w, QElapsedTimer& clock) {
    struct Filter : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) painted = true;
            return false;
        }
    } filter;
    w->installEventFilter(&filter);
    w->show();
    while (!filter.painted) QApplication::processEvents(QEventLoop::AllEvents, 5);
    w->removeEventFilter(&filter);
    return clock.nsecsElapsed() / 1e6;
}

double typeNearTheEnd(QsciScintilla* box, const std::function<void()>& settle) {
    const long length = box->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
    box->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, static_cast<unsigned long>(length - 5));
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(box, Qt::Key_X);
    if (settle) settle();
    QApplication::processEvents();
    return clock.nsecsElapsed() / 1e6;
}

void line(const char* name, double ours, double peer, const char* peerName) {
    std::printf("%-46s %9.1f ms   %-22s %9.1f ms   ratio %.2f\n", name, ours, peerName, peer,
                peer > 0 ? ours / peer : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: transfer_open_bench FILE\n");
        return 2;
    }
    std::string bytes;
    if (!fbx::readWholeFile(argv[1], bytes).isOk()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    QsciScintilla bare;
    bare.setUtf8(false);
    bare.SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, static_cast<unsigned long>(bytes.size()),
                       bytes.data());
    const double bareOpen = untilPainted(&bare, clock);
    const double bareKey = typeNearTheEnd(&bare, {});
    bare.hide();

    fbx::ui::AppContext app;
    app.settings.sendingEdit = 1;
    app.settings.mode = "DNC";
    fbx::ProTool(app.settings, app.codes);
    app.makePort = [] { return std::make_unique<fbx::MemorySerialPort>(); };
    clock.restart();
    fbx::ui::TransferWindow window(app);
    std::string text = bytes;  // as the Send command hands it over
    if (!window.openSend(std::move(text), argv[1])) return 1;
    const double windowOpen = untilPainted(&window, clock);
    fbx::ui::ProgramBox* box = window.textBox();
    const double windowKey = typeNearTheEnd(box, [box] { box->settle(); });

    std::printf("%.1f MB program\n", bytes.size() / 1e6);
    line("transfer window open, Sending Edit on", windowOpen, bareOpen, "bare QScintilla");
    line("a key typed near the end", windowKey, bareKey, "bare QScintilla");
    return 0;
}
