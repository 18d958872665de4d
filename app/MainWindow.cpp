#include "MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include "AboutWindow.h"
#include "DataFiles.h"
#include "Desktop.h"
#include "InstructionWindow.h"
#include "LocalText.h"
#include "Look.h"
#include "PathDialog.h"
#include "ProTool.h"
#include "ProcessingDialog.h"
#include "Prompts.h"
#include "SettingsDialog.h"
#include "ShellMessages.h"
#include "Startup.h"

namespace fbx::ui {

namespace {

constexpr int kAnimationMs = 200;
constexpr int kFrames = 6;
constexpr int kStatusGapTwips = 480;  // between the status line and the bottom edge
constexpr double kStatusPoints = 18;

QAction* addEntry(QMenu* menu, const char* name, const char* caption,
                  const QKeySequence& shortcut = {}) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    return action;
}

void addSeparator(QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
}

}  // namespace

MainWindow::MainWindow(MainCommands commands, const QString& startDir, QWidget* parent)
    : QMainWindow(parent), m_commands(std::move(commands)) {
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(bannerTitle());
    setAcceptDrops(true);

    // The welcome box of a first run comes before the window shows.
    RunStartup(m_app, localBytes(startDir), nullptr);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("client"));
    setCentralWidget(central);
    m_picture = new QLabel(central);
    m_picture->setObjectName(QStringLiteral("Picture1"));
    m_status = new QLabel(central);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setFont(systemFont(kStatusPoints));
    m_status->setIndent(twips(60, this));
    showStatusLine();
    buildMenus();

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(kAnimationMs);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::showNextPicture);
    m_timer->start();

    // The window covers the desktop's work area; the picture and the status
    // line follow the client area (layOut, on every resize).
    if (QScreen* s = screen()) setGeometry(s->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    layOut();
}

MainWindow::~MainWindow() {
    // The editor window has no parent; it goes with the main window while the
    // context it refers to still exists.
    delete m_editor.data();
}

QString MainWindow::bannerTitle() {
    return QString(29, '*') + QString(36, ' ') + QStringLiteral("Fero brixlan") + QString(44, ' ') +
           QString(41, '*');
}

void MainWindow::buildMenus() {
    // Every menu and entry has an Alt-letter ("&"), taken from its own caption.
    QMenuBar* bar = menuBar();

    QMenu* work = bar->addMenu(QStringLiteral("&Work"));
    work->setObjectName(QStringLiteral("Go"));
    connect(addEntry(work, "Sendd", "&Send", Qt::Key_F1), &QAction::triggered, this, [this] {
        if (m_commands.send) m_commands.send(this, m_app);
    });
    connect(addEntry(work, "Reveice", "&Receive", Qt::Key_F2), &QAction::triggered, this, [this] {
        if (m_commands.receive) m_commands.receive(this, m_app);
    });
    QMenu* recent = work->addMenu(QStringLiteral("Recent &programs"));
    recent->setObjectName(QStringLiteral("recentPrograms"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent] { fillRecentPrograms(recent); });
    addSeparator(work, "seprator");
    connect(addEntry(work, "Edit", "&Editor", Qt::Key_F3), &QAction::triggered, this,
            &MainWindow::startOutsideEditor);
    addSeparator(work, "sepretor");
    // Quit's key: Ctrl+Q, the desktop's usual key for ending a program; it
    // acts in the editor window too.
    QAction* exit = addEntry(work, "Exit", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q));
    exit->setShortcutContext(Qt::ApplicationShortcut);
    connect(exit, &QAction::triggered, this, &MainWindow::quit);

    QMenu* setting = bar->addMenu(QStringLiteral("&Setting"));
    setting->setObjectName(QStringLiteral("Setting"));
    connect(addEntry(setting, "ProTocol", "Setting of &communtion", Qt::Key_F4),
            &QAction::triggered, this, &MainWindow::openSettingsDialog);
    connect(addEntry(setting, "Idnumber", "&Editor"), &QAction::triggered, this,
            &MainWindow::openBuiltInEditor);
    connect(addEntry(setting, "Process", "&Replace"), &QAction::triggered, this,
            &MainWindow::openProcessingDialog);

    QMenu* select = bar->addMenu(QStringLiteral("Se&lect"));
    select->setObjectName(QStringLiteral("OPtion"));
    connect(addEntry(select, "Editor", "&Editor path"), &QAction::triggered, this,
            [this] { openPathDialog(PathDialogMode::EditorPath); });
    connect(addEntry(select, "savecon", "&Save configer path"), &QAction::triggered, this,
            [this] { openPathDialog(PathDialogMode::SaveConfiguration); });
    connect(addEntry(select, "Restorecon", "&Read configer path"), &QAction::triggered, this,
            [this] { openPathDialog(PathDialogMode::RestoreConfiguration); });

    // "About" and "Instruction" are commands of the menu bar itself.
    QAction* about = bar->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("About"));
    connect(about, &QAction::triggered, this, &MainWindow::openAboutWindow);
    QAction* talk = bar->addAction(QStringLiteral("&Instruction"));
    talk->setObjectName(QStringLiteral("Talk"));
    connect(talk, &QAction::triggered, this, &MainWindow::openInstructionWindow);
}

void MainWindow::fillRecentPrograms(QMenu* menu) {
    menu->clear();
    const QStringList programs = recentPrograms();
    for (int i = 0; i < programs.size(); ++i) {
        QAction* entry = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(programs[i]));
        connect(entry, &QAction::triggered, this, [this, path = programs[i]] {
            if (m_commands.sendFile) m_commands.sendFile(this, m_app, path);
        });
    }
    if (programs.isEmpty()) menu->addAction(QStringLiteral("(none yet)"))->setEnabled(false);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.size() == 1 && urls[0].isLocalFile() && QFileInfo(urls[0].toLocalFile()).isFile())
        e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    const QString path = e->mimeData()->urls().value(0).toLocalFile();
    e->acceptProposedAction();
    // Offered once the drop is over, so that the dragging program is not
    // held while the transfer window is open.
    QTimer::singleShot(0, this, [this, path] {
        if (m_commands.sendFile) m_commands.sendFile(this, m_app, path);
    });
}

void MainWindow::showStatusLine() {
    m_status->setText(localText(statusLineText(m_app.settings)));
}

void MainWindow::showNextPicture() {
    if (m_frame > kFrames || m_frame < 1) m_frame = 1;
    const QString path = findDataFile(m_app.programDir, pictureName(m_frame));
    QPixmap pixmap;
    if (!path.isEmpty() && pixmap.load(path)) {
        const bool resized = pixmap.size() != m_picture->size();
        m_picture->setPixmap(pixmap);
        if (resized) layOut();
    }
    ++m_frame;
}

void MainWindow::layOut() {
    if (!m_status || !centralWidget()) return;
    const QSize client = centralWidget()->size();
    // The status line runs along the bottom from the window's left edge, 480
    // twips above the bottom; the picture keeps its size, centred above it.
    const int statusHeight = m_status->fontMetrics().height() + twips(120, this);
    m_status->setGeometry(0, client.height() - statusHeight - twips(kStatusGapTwips, this),
                          client.width(), statusHeight);
    const QPixmap pixmap = m_picture->pixmap();
    const QSize picture = pixmap.isNull() ? QSize(0, 0) : pixmap.deviceIndependentSize().toSize();
    m_picture->setGeometry(client.width() / 2 - picture.width() / 2,
                           (client.height() - statusHeight) / 2 - picture.height() / 2,
                           picture.width(), picture.height());
}

bool MainWindow::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::WindowActivate:
            // While the built-in editor is open it is brought forward and
            // given the focus whenever the main window becomes active.
            if (m_app.editorOpen == 1 && m_editor) {
                m_editor->raise();
                m_editor->activateWindow();
            }
            m_timer->start();
            break;
        case QEvent::WindowDeactivate:
            m_timer->stop();
            break;
        default:
            break;
    }
    return QMainWindow::event(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (!quit()) {
        e->ignore();
        return;
    }
    e->accept();
}

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    layOut();
}

bool MainWindow::quit() {
    // Ends the program at once and saves no settings. Only the editor window
    // is asked first, so that typed edits are not lost unasked; it may keep
    // the program running.
    if (m_editor && !m_editor->close()) return false;
    QCoreApplication::exit(0);
    return true;
}

void MainWindow::startOutsideEditor() {
    const QString program = localText(m_app.settings.editorPath);
    if (program.isEmpty() || !QProcess::startDetached(program, {})) {
        ask(this, editorNotStartedMessage());
    }
}

void MainWindow::openBuiltInEditor() {
    m_app.editorOpen = 1;
    if (m_editor) {
        // There is one editor window: asking again brings it forward.
        m_editor->raise();
        m_editor->activateWindow();
        return;
    }
    if (m_commands.openEditor) m_editor = m_commands.openEditor(m_app);
    if (!m_editor) m_app.editorOpen = 0;
}

void MainWindow::openSettingsDialog() {
    SettingsDialog dialog(m_app, this);
    connect(&dialog, &SettingsDialog::proToolRan, this, &MainWindow::showStatusLine);
    dialog.exec();
}

void MainWindow::openProcessingDialog() {
    ProcessingDialog dialog(m_app, this);
    dialog.exec();
}

void MainWindow::openPathDialog(PathDialogMode mode) {
    PathDialog dialog(m_app, mode, this);
    connect(&dialog, &PathDialog::proToolRan, this, &MainWindow::showStatusLine);
    dialog.exec();
}

void MainWindow::openAboutWindow() {
    AboutWindow window(m_app, this);
    window.exec();
}

void MainWindow::openInstructionWindow() {
    InstructionWindow window(m_app, this);
    window.exec();
}

}  // namespace fbx::ui
