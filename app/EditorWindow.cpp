#include "EditorWindow.h"

#include <Qsci/qsciscintilla.h>
#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "AppContext.h"
#include "Desktop.h"
#include "EditorImages.h"
#include "GcodeLexer.h"
#include "Look.h"
#include "PlainAccessible.h"
#include "Prompts.h"
#include "SearchDialog.h"

namespace fbx::ui {

namespace {

using Sci = QsciScintillaBase;

// Time spent in one slice of loading or numbering before the window goes
// back to its event loop.
constexpr qint64 kSliceMs = 8;
// Bytes handed to the text area at a time while a file loads.
constexpr std::size_t kLoadChunk = 1 << 20;

struct ToolButton {
    const char* key;
    const char* tooltip;
    const char* image;
    void (EditorWindow::*command)();
    const char* shortcut;  // the command's key, if it has one
};

// Cut, copy, paste and undo have the text area's own keys.
const ToolButton kToolButtons[] = {
    {"Open1", "Open File", "Open", &EditorWindow::OpenProgram, "Ctrl+O"},
    {"Save1", "Save File", "Save", &EditorWindow::SaveProgramAs, "Ctrl+S"},
    {"Print1", "Print", "Print", &EditorWindow::PrintProgram, "Ctrl+P"},
    {"Cut1", "Cut", "Cut", &EditorWindow::CutSelection, nullptr},
    {"Copy1", "Copy", "Copy", &EditorWindow::CopySelection, nullptr},
    {"Paste1", "Paste", "Paste", &EditorWindow::PasteClipboard, nullptr},
    {"Undo1", "Undo", "Undo", &EditorWindow::UndoEdit, nullptr},
    {"Preview1", "Search", "Preview", &EditorWindow::ShowSearchDialog, "Ctrl+F"},
    {"NNumber", "Made N", "Setting", &EditorWindow::NumberLines, nullptr},
};

QLabel* ValueLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(twips(1300, parent));
    label->setFont(systemFont(9));
    return label;
}

QString Context(std::string_view bytes) {
    QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    text.replace("\r\n", "\n");
    return text;
}

// Reads a whole file at once, into a buffer of its size.
bool ReadProgram(const QString& name, std::string& bytes, QString& failure) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        failure = name + ": " + file.errorString();
        return false;
    }
    bytes.clear();
    const qint64 size = file.size();
    if (size > 0) bytes.resize(static_cast<std::size_t>(size));
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(bytes.data() + got, size - got);
        if (n <= 0) break;
        got += n;
    }
    bytes.resize(static_cast<std::size_t>(got));
    // A file that grew meanwhile, or one whose size the system does not know.
    char more[65536];
    for (qint64 n; (n = file.read(more, sizeof more)) > 0;) bytes.append(more, static_cast<std::size_t>(n));
    if (file.error() != QFileDevice::NoError) {
        failure = name + ": " + file.errorString();
        return false;
    }
    return true;
}

Message Failure(const std::string& title, const std::string& description) {
    Message m;
    m.text = description;
    m.title = title;
    m.icon = Icon::Stop;
    m.buttons = Buttons::Ok;
    m.beep = true;
    return m;
}

}  // namespace

EditorWindow::EditorWindow(AppContext& app, QWidget* parent) : QMainWindow(parent), m_app(app) {
    setObjectName("Form7");
    setWindowTitle("Editor");
    setAttribute(Qt::WA_DeleteOnClose);

    m_text = new QsciScintilla;
    m_text->setObjectName("Ric0");
    describeAsPlainText(m_text);
    m_text->setUtf8(false);
    // The text area tells this window nothing about single changes: the
    // notifications cost time in proportion to the position of the change,
    // which makes every keystroke near the end of a large program slow. The
    // status labels follow the text area's update notice instead.
    m_text->SendScintilla(Sci::SCI_SETMODEVENTMASK, 0L);
    m_text->setEolMode(QsciScintilla::EolWindows);
    m_text->setWrapMode(QsciScintilla::WrapNone);
    for (int margin = 0; margin < 5; ++margin) m_text->setMarginWidth(margin, 0);
    m_text->SendScintilla(Sci::SCI_SETSCROLLWIDTH, 1L);
    m_text->SendScintilla(Sci::SCI_SETSCROLLWIDTHTRACKING, 1L);
    m_text->setLexer(new GcodeLexer(m_text));
    m_text->setCaretLineVisible(false);

    m_notice = new QLabel(QString::fromUtf8("N序號產生中"));
    m_notice->setObjectName("Label4");
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setFont(systemFont(16, true));
    m_notice->setStyleSheet("QLabel { background-color: #ff0000; color: #ffffff; padding: 10px 28px; }");
    m_notice->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    BuildToolbar();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(2, 2, 2, 2);
    BuildStatusRow(layout);
    // The notice sits underneath the text area and is seen only while the
    // text area is hidden.
    auto* stack = new QGridLayout;
    stack->addWidget(m_notice, 0, 0, Qt::AlignCenter);
    stack->addWidget(m_text, 0, 0);
    m_text->raise();
    layout->addLayout(stack, 1);
    setCentralWidget(central);

    connect(m_text, &QsciScintilla::modificationChanged, this, &EditorWindow::UpdateTitle);
    connect(m_text, &QsciScintillaBase::SCN_UPDATEUI, this, [this](int) {
        UpdateStatusLabels();
        static_cast<GcodeLexer*>(m_text->lexer())->styleVisibleLines();
    });

    m_workTimer = new QTimer(this);
    m_workTimer->setInterval(0);

    m_openTimer = new QTimer(this);
    m_openTimer->setObjectName("Timer2");
    m_openTimer->setInterval(100);
    m_openTimer->setSingleShot(true);
    connect(m_openTimer, &QTimer::timeout, this, [this] {
        m_openTimer->stop();
        OpenProgram();
    });

    m_searchTimer = new QTimer(this);
    m_searchTimer->setObjectName("Timer3");
    m_searchTimer->setInterval(100);
    m_searchTimer->setSingleShot(true);
    connect(m_searchTimer, &QTimer::timeout, this, &EditorWindow::SearchStep);

    m_text->SendScintilla(Sci::SCI_GOTOPOS, 0UL);
    UpdateStatusLabels();
    placeWindow(this, QSize(twips(12000, this), twips(9000, this)), QStringLiteral("editor"));
    m_openTimer->start();
}

EditorWindow::~EditorWindow() {
    m_workTimer->stop();
    if (m_searchDialog) delete m_searchDialog.data();
    m_app.editorOpen = 0;
}

void EditorWindow::UpdateTitle() {
    const QString name = m_fileName.isEmpty() ? QStringLiteral("Editor") : m_fileName;
    setWindowTitle(m_text->isModified() ? '*' + name : name);
}

bool EditorWindow::MayDropText() {
    if (!m_text->isModified()) return true;
    const QString name =
        m_fileName.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(m_fileName).fileName();
    Message m;
    m.text = "Save changes to " + name.toStdString() + "?";
    m.title = "Editor";
    m.icon = Icon::Question;
    m.buttons = Buttons::SaveDiscardCancel;
    switch (ask(this, m)) {
        case Answer::Save: return SaveToChosenFile();
        case Answer::Discard: return true;
        default: return false;
    }
}

void EditorWindow::closeEvent(QCloseEvent* event) {
    if (!MayDropText()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void EditorWindow::BuildToolbar() {
    m_toolBar = addToolBar("tbToolBar");
    m_toolBar->setObjectName("tbToolBar");
    m_toolBar->setMovable(false);
    m_toolBar->setIconSize(QSize(24, 24));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const ToolButton& button : kToolButtons) {
        QAction* action = m_toolBar->addAction(EditorImage(button.image), button.tooltip);
        action->setObjectName(button.key);
        action->setData(QString(button.key));
        action->setToolTip(button.tooltip);
        if (button.shortcut)
            action->setShortcut(QKeySequence(QString::fromLatin1(button.shortcut)));
    }
    connect(m_toolBar, &QToolBar::actionTriggered, this, &EditorWindow::OnToolbar);

    // F3 searches on for the search dialog's word, in the editor and in the
    // dialog alike; without the dialog it opens it.
    // Ctrl+W closes the window, asking about unsaved edits as closing does.
    auto* closeAction = new QAction(this);
    closeAction->setObjectName("closeEditor");
    closeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    addAction(closeAction);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);

    m_findNext = new QAction(this);
    m_findNext->setObjectName("findNext");
    m_findNext->setShortcut(QKeySequence(Qt::Key_F3));
    addAction(m_findNext);
    connect(m_findNext, &QAction::triggered, this, &EditorWindow::FindNext);
}

void EditorWindow::FindNext() {
    if (m_searchDialog) m_searchDialog->searchButton()->click();
    else ShowSearchDialog();
}

void EditorWindow::BuildStatusRow(QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    auto caption = [this](const char* text) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setFont(systemFont(9));
        return label;
    };
    m_lineCount = ValueLabel("Label2", this);
    m_caretLine = ValueLabel("Label5", this);
    m_caretPosition = ValueLabel("Label1", this);
    row->addWidget(caption("總行"));
    row->addWidget(m_lineCount);
    row->addSpacing(12);
    row->addWidget(caption("行"));
    row->addWidget(m_caretLine);
    row->addSpacing(12);
    row->addWidget(caption("位置"));
    row->addWidget(m_caretPosition);
    row->addStretch(1);
    layout->addLayout(row);
}

void EditorWindow::OnToolbar(QAction* action) {
    const QString key = action->data().toString();
    for (const ToolButton& button : kToolButtons) {
        if (key == button.key) {
            (this->*button.command)();
            return;
        }
    }
}

void EditorWindow::UpdateStatusLabels() {
    long position = m_text->SendScintilla(Sci::SCI_GETCURRENTPOS);
    long line = m_text->SendScintilla(Sci::SCI_LINEFROMPOSITION, static_cast<unsigned long>(position));
    m_lineCount->setText(QString::number(m_text->SendScintilla(Sci::SCI_GETLINECOUNT)));
    m_caretLine->setText(QString::number(line));
    m_caretPosition->setText(QString::number(position));
}

void EditorWindow::SetBusy(bool busy) {
    m_busy = busy;
    m_toolBar->setEnabled(!busy);
}

std::string EditorWindow::programText() const {
    long length = m_text->SendScintilla(Sci::SCI_GETLENGTH);
    const char* bytes = static_cast<const char*>(m_text->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
    return std::string(bytes, static_cast<std::size_t>(length));
}

void EditorWindow::AppendBytes(std::string_view bytes) {
    if (bytes.empty()) return;
    bool readOnly = m_text->SendScintilla(Sci::SCI_GETREADONLY) != 0;
    if (readOnly) m_text->SendScintilla(Sci::SCI_SETREADONLY, 0L);
    m_text->SendScintilla(Sci::SCI_APPENDTEXT, static_cast<uintptr_t>(bytes.size()), bytes.data());
    if (readOnly) m_text->SendScintilla(Sci::SCI_SETREADONLY, 1L);
}

void EditorWindow::setProgramText(std::string_view bytes) {
    m_text->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0L);
    m_text->SendScintilla(Sci::SCI_CLEARALL);
    AppendBytes(bytes);
    m_text->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1L);
    m_text->SendScintilla(Sci::SCI_EMPTYUNDOBUFFER);
    m_text->SendScintilla(Sci::SCI_SETSAVEPOINT);
    UpdateStatusLabels();
}

// ---- Open ------------------------------------------------------------------

void EditorWindow::OpenProgram() {
    if (m_busy || !MayDropText()) return;
    const QString name = openFileName(this, {"Open File", "*.*|*.*", QString()});
    if (name.isEmpty()) return;

    setProgramText({});
    m_fileName = name;
    UpdateTitle();
    if (!QFileInfo::exists(name)) {
        Message m;
        m.text = "Data empty opennev file?";
        m.title = "Send data error";
        m.icon = Icon::Stop;
        m.buttons = Buttons::OkCancel;
        ask(this, m);
        m_text->setFocus();
        UpdateStatusLabels();
        return;
    }
    QString failure;
    if (!ReadProgram(name, m_loadBytes, failure)) {
        m_loadBytes = std::string();
        ask(this, Failure("Open File", failure.toStdString()));
        m_text->setFocus();
        UpdateStatusLabels();
        return;
    }

    // The text goes in a piece at a time, so that the first lines show at
    // once and the window answers while a large program loads.
    m_loaded = 0;
    m_text->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0L);
    // Room for the whole text, and for the N words of a numbering pass (at
    // most seven characters a line), so that neither has to move the text
    // area's buffer to a larger one.
    const std::size_t lines = static_cast<std::size_t>(std::count(m_loadBytes.begin(), m_loadBytes.end(), '\n'));
    m_text->SendScintilla(Sci::SCI_ALLOCATE, static_cast<unsigned long>(m_loadBytes.size() + 7 * (lines + 1) + 1));
    m_text->SendScintilla(Sci::SCI_SETREADONLY, 1L);
    SetBusy(true);
    m_workTimer->disconnect();
    connect(m_workTimer, &QTimer::timeout, this, &EditorWindow::LoadSlice);
    LoadSlice();
    if (m_busy) m_workTimer->start();
}

void EditorWindow::LoadSlice() {
    QElapsedTimer clock;
    clock.start();
    while (m_loaded < m_loadBytes.size()) {
        std::size_t n = std::min(kLoadChunk, m_loadBytes.size() - m_loaded);
        AppendBytes(std::string_view(m_loadBytes).substr(m_loaded, n));
        m_loaded += n;
        if (clock.elapsed() >= kSliceMs) return;
    }
    FinishLoad();
}

void EditorWindow::FinishLoad() {
    m_workTimer->stop();
    m_loadBytes = std::string();
    m_loaded = 0;
    m_text->SendScintilla(Sci::SCI_SETREADONLY, 0L);
    m_text->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1L);
    m_text->SendScintilla(Sci::SCI_EMPTYUNDOBUFFER);
    m_text->SendScintilla(Sci::SCI_SETSAVEPOINT);
    SetBusy(false);
    m_text->setFocus();
    UpdateStatusLabels();
    emit programLoaded();
}

// ---- Save ------------------------------------------------------------------

void EditorWindow::SaveProgramAs() { SaveToChosenFile(); }

bool EditorWindow::SaveToChosenFile() {
    if (m_busy) return false;
    // Starts at the file the text came from, its name filled in.
    const QString name = saveFileName(this, {"Save File", withProgramFilters("*.txt"), m_fileName});
    if (name.isEmpty()) return false;
    if (QFileInfo::exists(name)) {
        Message m;
        m.text = "re-write or not ?\r\n" + name.toStdString();
        m.title = "Save as";
        m.icon = Icon::Question;
        m.buttons = Buttons::OkCancel;
        if (ask(this, m) != Answer::Ok) return false;
    }
    // A line end goes after the text unless it already ends with one, so
    // that a file saved again without an edit stays as it was.
    std::string bytes = programText();
    if (bytes.empty() || (bytes.back() != '\n' && bytes.back() != '\r')) bytes += "\r\n";
    // Written beside the file and renamed over it, so that a failed write
    // (a full disk) leaves the old program as it was.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    bool ok = file.open(QIODevice::WriteOnly) &&
              file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    if (ok) {
        ok = file.commit();
    } else {
        file.cancelWriting();
    }
    if (!ok) {
        ask(this,
            Failure("Save File", name.toStdString() + ": " + file.errorString().toStdString()));
        return false;
    }
    // The text is now that file's.
    m_fileName = name;
    m_text->SendScintilla(Sci::SCI_SETSAVEPOINT);
    UpdateTitle();
    return true;
}

// ---- Print -----------------------------------------------------------------

void EditorWindow::PrintProgram() {
    if (m_busy) return;
    long from = m_text->SendScintilla(Sci::SCI_GETSELECTIONSTART);
    long to = m_text->SendScintilla(Sci::SCI_GETSELECTIONEND);
    const bool hasSelection = to > from;
    QPrinter printer(QPrinter::HighResolution);
    const QFileInfo file(m_fileName);
    printer.setDocName(m_fileName.isEmpty() ? QStringLiteral("Editor") : file.fileName());
    printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    printer.setPrintRange(hasSelection ? QPrinter::Selection : QPrinter::AllPages);
    // A PDF goes beside the program, named after it.
    const QString pdf = m_fileName.isEmpty()
                            ? QString()
                            : file.absolutePath() + '/' + file.completeBaseName() + ".pdf";
    if (!prompts().preparePrinter(this, printer, "print", hasSelection, pdf)) return;
    if (!hasSelection || printer.printRange() != QPrinter::Selection) {
        from = 0;
        to = m_text->SendScintilla(Sci::SCI_GETLENGTH);
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        ask(this, Failure("print", "The printer could not be started."));
        return;
    }
    m_text->SendScintilla(Sci::SCI_SETPRINTCOLOURMODE, static_cast<long>(Sci::SC_PRINT_COLOURONWHITE));
    m_text->SendScintilla(Sci::SCI_SETPRINTWRAPMODE, static_cast<long>(Sci::SC_WRAP_WORD));
    m_text->SendScintilla(Sci::SCI_SETPRINTMAGNIFICATION, 0L);
    // Each page's text above a footer with its number: the pages are
    // measured first, for their count.
    const QFont footerFont = systemFont(9);
    const int footer = QFontMetrics(footerFont, &printer).height() * 2;
    const QRect area(0, 0, printer.width(), printer.height() - footer);
    std::vector<long> pages;
    for (long position = from; position < to;) {
        pages.push_back(position);
        const long next =
            m_text->SendScintilla(Sci::SCI_FORMATRANGE, 0UL, &painter, area, position, to);
        if (next <= position) break;  // a page that takes nothing would repeat forever
        position = next;
    }
    for (std::size_t page = 0; page < pages.size(); ++page) {
        if (page > 0) printer.newPage();
        m_text->SendScintilla(Sci::SCI_FORMATRANGE, 1UL, &painter, area, pages[page], to);
        painter.setFont(footerFont);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, area.height(), area.width(), footer), Qt::AlignCenter,
                         QStringLiteral("Page %1 of %2").arg(page + 1).arg(pages.size()));
    }
    painter.end();
}

// ---- Clipboard and undo ----------------------------------------------------

void EditorWindow::CutSelection() {
    if (!m_busy) m_text->cut();
}

void EditorWindow::CopySelection() {
    if (!m_busy) m_text->copy();
}

void EditorWindow::PasteClipboard() {
    if (!m_busy) m_text->paste();
}

void EditorWindow::UndoEdit() {
    if (m_busy) return;
    m_text->setFocus();
    m_text->undo();
}

// ---- Sequence numbers ------------------------------------------------------
//
// The pass reads the text area's own buffer, which stays put while the text
// area is hidden and read-only, and numbers it into a text of its own, block
// by block. Then the numbered blocks replace the old ones from the last to
// the first, so that the text area's buffer never has to move more than a
// block at a time, as one step the operator can undo.

void EditorWindow::NumberLines() {
    if (m_busy) return;  // the toolbar is off meanwhile; a second press does nothing
    m_pass.reset();
    m_blocks.clear();
    m_undoGroupOpen = false;
    m_text->hide();
    m_text->SendScintilla(Sci::SCI_SETREADONLY, 1L);
    SetBusy(true);
    m_workTimer->disconnect();
    connect(m_workTimer, &QTimer::timeout, this, &EditorWindow::NumberSlice);
    m_workTimer->start();
}

void EditorWindow::NumberSlice() {
    QElapsedTimer clock;
    clock.start();
    using Phase = editor::NumberingPass::Phase;
    if (!m_pass) {
        const long length = m_text->SendScintilla(Sci::SCI_GETLENGTH);
        const auto* text = static_cast<const char*>(m_text->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
        m_pass = std::make_unique<editor::NumberingPass>(
            std::string_view(text, static_cast<std::size_t>(length)),
            [this] { return editor::IntervalValue(m_app.settings.serialInterval); }, editor::kBlockSize);
        if (clock.elapsed() >= kSliceMs) return;
    }
    while (m_pass->phase() == Phase::Checking || m_pass->phase() == Phase::Numbering) {
        const Phase phase = m_pass->Step();
        if (phase == Phase::Refused) {
            FinishNumbering(true);
            return;
        }
        // Each block's numbered text is kept on its own: one growing text
        // would now and then have to move to a larger buffer all at once.
        if (phase != Phase::Checking && m_pass->position() > (m_blocks.empty() ? 0 : m_blocks.back().sourceEnd)) {
            m_blocks.push_back({m_pass->position(), std::move(m_pass->numberedText())});
            m_pass->numberedText() = std::string();
        }
        if (clock.elapsed() >= kSliceMs) return;
    }
    if (!m_undoGroupOpen) {
        m_text->SendScintilla(Sci::SCI_SETREADONLY, 0L);
        m_text->SendScintilla(Sci::SCI_BEGINUNDOACTION);
        m_undoGroupOpen = true;
    }
    while (!m_blocks.empty()) {
        const NumberedBlock block = std::move(m_blocks.back());
        m_blocks.pop_back();
        const std::size_t sourceStart = m_blocks.empty() ? 0 : m_blocks.back().sourceEnd;
        m_text->SendScintilla(Sci::SCI_SETTARGETRANGE, static_cast<unsigned long>(sourceStart),
                              static_cast<long>(block.sourceEnd));
        m_text->SendScintilla(Sci::SCI_REPLACETARGET, static_cast<uintptr_t>(block.numbered.size()),
                              block.numbered.data());
        if (clock.elapsed() >= kSliceMs) return;
    }
    FinishNumbering(false);
}

void EditorWindow::FinishNumbering(bool refused) {
    m_workTimer->stop();
    m_text->SendScintilla(Sci::SCI_SETREADONLY, 0L);
    if (refused) ask(this, editor::NWordRefusal(m_pass->check()));
    if (m_undoGroupOpen) {
        m_text->SendScintilla(Sci::SCI_ENDUNDOACTION);
        m_text->SendScintilla(Sci::SCI_GOTOPOS, 0UL);
        m_undoGroupOpen = false;
    }
    m_pass.reset();
    m_blocks = {};
    m_text->show();
    SetBusy(false);
    m_text->setFocus();
    UpdateStatusLabels();
    emit numberingFinished();
}

// ---- Search ----------------------------------------------------------------

SearchDialog* EditorWindow::searchDialog() const { return m_searchDialog.data(); }

void EditorWindow::ShowSearchDialog() {
    if (m_busy) return;
    if (m_searchDialog) {
        m_searchDialog->show();
        m_searchDialog->raise();
        m_searchDialog->activateWindow();
        return;
    }
    m_searchDialog = new SearchDialog(this);
    m_searchDialog->addAction(m_findNext);
    connect(m_searchDialog, &SearchDialog::searchRequested, this, [this](const QString& typed) {
        const QByteArray bytes = typed.toLatin1();
        m_searchWord = editor::SearchWordOf(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        m_searchTimer->start();
    });
    connect(m_searchDialog, &SearchDialog::wordChanged, this, [this] { m_search.Restart(); });
    m_search.Restart();
    m_searchDialog->show();
}

void EditorWindow::SearchStep() {
    m_text->setFocus();
    m_searchTimer->stop();
    // The text as it is now; a search under way goes on from the caret, which
    // after a hit stands at its end unless the operator moved it or typed.
    m_search.ContinueAt(static_cast<std::size_t>(m_text->SendScintilla(Sci::SCI_GETCURRENTPOS)));
    const long length = m_text->SendScintilla(Sci::SCI_GETLENGTH);
    const auto* bytes =
        static_cast<const char*>(m_text->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
    std::optional<editor::SearchHit> hit = m_search.SearchStep(
        std::string_view(bytes, static_cast<std::size_t>(length)), m_searchWord);
    if (!hit) {
        Message m;
        m.text = "Data end";
        m.title = programTitle();
        m.icon = Icon::None;
        m.buttons = Buttons::Ok;
        ask(m_searchDialog ? static_cast<QWidget*>(m_searchDialog) : this, m);
        if (m_searchDialog) m_searchDialog->showEnd();
        return;
    }
    if (m_searchDialog) m_searchDialog->showHit(hit->hitPosition, hit->line, Context(hit->context));
    const long start = static_cast<long>(hit->hitPosition - 1);
    const long end = start + static_cast<long>(m_searchWord.size());
    m_text->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(start), end);
}

}  // namespace fbx::ui
