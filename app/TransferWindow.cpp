#include "TransferWindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <climits>

#include "AppContext.h"
#include "Desktop.h"
#include "EngineHost.h"
#include "Look.h"
#include "ProgramBox.h"
#include "Prompts.h"
#include "ReceiveEngine.h"
#include "SendEngine.h"
#include "Statistics.h"

namespace fbx::ui {

namespace {

QString fromUtf8(const std::string& text) {
    // The window's texts break lines with CR (and CR LF).
    QString s = QString::fromStdString(text);
    s.replace("\r\n", "\n");
    s.replace('\r', '\n');
    return s;
}

// The line indicator's light: its colour for each state.
const char* lineColour(LineState state) {
    switch (state) {
        case LineState::Idle: break;
        case LineState::Free: return "#20b020";
        case LineState::HeldByMachine: return "#e02020";
        case LineState::WaitingForDsr:
        case LineState::WaitingForDc1: return "#f0a000";
    }
    return "#b0b0b0";
}

// A button's caption with its first letter as the Alt key ("Keep on" is
// Alt+K), so that the buttons are reached from anywhere in the window, the
// program box included.
QString buttonCaption(const std::string& text) {
    QString caption = fromUtf8(text);
    caption.replace('&', QStringLiteral("&&"));
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i].isLetter()) {
            caption.insert(i, '&');
            break;
        }
    }
    return caption;
}

QLabel* valueLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFont(systemFont(11, true));
    label->setMinimumWidth(twips(1500, parent));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

}  // namespace

TransferWindow::TransferWindow(AppContext& app, QWidget* parent) : QDialog(parent), m_app(app) {
    setObjectName("Form3");
    build();
}

TransferWindow::~TransferWindow() {
    if (m_host) m_host->stop();
    m_engine.reset();  // closes the port if it is still open
}

void TransferWindow::build() {
    setModal(true);

    m_label3 = new QLabel(this);
    m_label3->setObjectName("Label3");
    m_label3->setFont(systemFont(14, true));
    m_label3->setStyleSheet("color: #00008b;");
    m_label3->hide();
    m_label4 = new QLabel(this);
    m_label4->setObjectName("Label4");
    m_label4->setFont(systemFont(10, true));
    m_label4->setStyleSheet("color: #b00000;");
    m_label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_text = new ProgramBox(this);
    m_text->setObjectName("RichTextBox1");
    // The box keeps every key but Esc, which is the quit button wherever the
    // focus is.
    m_text->installEventFilter(this);
    m_picture = new QLabel(this);
    m_picture->setObjectName("Picture1");
    m_picture->setFont(QFont("Monospace", 10));
    m_picture->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_picture->setWordWrap(true);
    m_picture->setTextFormat(Qt::PlainText);
    m_picture->setMinimumHeight(twips(1200, this));
    m_picture->hide();

    const char* captionNames[6] = {"Label5_0", "Label5_1", "Label5_2",
                                   "Label5_3", "Label5_4", "Label5_5"};
    for (int i = 0; i < 6; ++i) {
        m_label5[i] = new QLabel(this);
        m_label5[i]->setObjectName(captionNames[i]);
        m_label5[i]->setFont(systemFont(10));
        m_label5[i]->hide();
    }
    m_label2 = valueLabel("Label2", this);
    m_label6 = valueLabel("Label6", this);
    m_label7 = valueLabel("Label7", this);
    m_label8 = valueLabel("Label8", this);
    m_label9 = valueLabel("Label9", this);
    m_label10 = valueLabel("Label10", this);

    // Statistics rows, top to bottom.
    auto* stats = new QGridLayout;
    const std::pair<int, QLabel*> rows[] = {{4, m_label9}, {3, m_label8}, {5, m_label10},
                                            {0, m_label2}, {1, m_label6}, {2, m_label7}};
    int row = 0;
    for (auto [caption, value] : rows) {
        stats->addWidget(m_label5[caption], row, 0);
        stats->addWidget(value, row, 1);
        ++row;
    }
    stats->setRowStretch(row, 1);

    m_lineLight = new QLabel(this);
    m_lineLight->setObjectName("lineLight");
    const int light = twips(210, this);
    m_lineLight->setFixedSize(light, light);
    m_lineState = new QLabel(this);
    m_lineState->setObjectName("lineState");
    m_lineState->setFont(systemFont(10, true));
    m_lineState->setWordWrap(true);  // long holds stay readable in a narrow column
    auto* indicator = new QHBoxLayout;
    indicator->addWidget(m_lineLight);
    indicator->addWidget(m_lineState, 1);
    showLineState(LineState::Idle, 0);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName("ProgressBar1");
    m_progress->setTextVisible(true);
    m_progress->hide();

    m_command1 = new QPushButton(this);
    m_command1->setObjectName("Command1");
    m_command2 = new QPushButton(buttonCaption("Quit"), this);
    m_command2->setObjectName("Command2");
    m_command3 = new QPushButton(buttonCaption("re-send"), this);
    m_command3->setObjectName("Command3");
    m_command3->hide();
    m_command3->setEnabled(false);
    for (QPushButton* b : {m_command1, m_command2, m_command3}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFont(systemFont(11, true));
        b->setMinimumSize(twips(1400, this), twips(500, this));
    }

    auto* top = new QHBoxLayout;
    top->addWidget(m_label3, 1);
    top->addWidget(m_label4);
    auto* left = new QVBoxLayout;
    left->addWidget(m_text, 1);
    left->addWidget(m_picture, 1);
    auto* right = new QVBoxLayout;
    right->addLayout(stats);
    right->addSpacing(twips(240, this));
    right->addLayout(indicator);
    right->addStretch(1);
    auto* middle = new QHBoxLayout;
    middle->addLayout(left, 3);
    middle->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_command1);
    buttons->addWidget(m_command2);
    buttons->addWidget(m_command3);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);

    // "Keep on" and "re-send" end a hold: the held line's highlight goes.
    connect(m_command1, &QPushButton::clicked, this, [this] {
        m_text->clearHighlight();
        if (m_engine) m_engine->startPressed();
    });
    connect(m_command2, &QPushButton::clicked, this, [this] {
        if (m_engine) m_engine->quitPressed();
    });
    connect(m_command3, &QPushButton::clicked, this, [this] {
        m_text->clearHighlight();
        if (m_engine) m_engine->resendPressed();
    });
    placeWindow(this, QSize(twips(12000, this), twips(7800, this)), QStringLiteral("transfer"));
}

bool TransferWindow::openPort() {
    m_port = m_app.makePort ? m_app.makePort() : nullptr;
    if (!m_port) {
        Message m;
        m.text = kPortErrorText;
        m.title = kSystemWarmTitle;
        m.icon = Icon::Stop;
        ask(m);
        return false;
    }
    return true;
}

void TransferWindow::startHost() {
    // The start button has the focus, so that Esc and Space act at once.
    m_command1->setFocus();
    m_host = std::make_unique<EngineHost>(*m_engine, m_port->nativeHandle(), this);
    m_host->start();
}

bool TransferWindow::openSend(std::string fileText, const QString& path) {
    setWindowTitle("Send : " + path);
    if (!openPort()) return false;
    auto engine = std::make_unique<SendEngine>(*m_port, m_clock, *this, m_app.settings, m_app.codes);
    m_send = engine.get();
    m_engine = std::move(engine);
    m_text->source = [this]() -> const std::string& { return m_send->sendBuffer(); };
    m_text->firstEditable = [this] { return m_send->firstEditablePosition(); };
    m_text->gate = [this](std::int64_t at, std::int64_t removed, std::string_view inserted) {
        return m_send->editSendBuffer(at, removed, inserted);
    };
    if (!m_send->open(std::move(fileText))) return false;
    startHost();
    return !m_engine->closed();
}

bool TransferWindow::openReceive(const QString& path) {
    setWindowTitle("Receive : " + path);
    if (!openPort()) return false;
    auto engine =
        std::make_unique<ReceiveEngine>(*m_port, m_clock, *this, m_app.settings, m_app.codes);
    ReceiveEngine* receive = engine.get();
    m_engine = std::move(engine);
    m_text->hide();
    m_picture->show();
    // Only the received count belongs to this layout; the line indicator
    // and the empty value boxes of the send statistics are not shown.
    for (QWidget* unused : {static_cast<QWidget*>(m_label6), static_cast<QWidget*>(m_label7),
                            static_cast<QWidget*>(m_label8), static_cast<QWidget*>(m_label9),
                            static_cast<QWidget*>(m_label10), static_cast<QWidget*>(m_lineLight),
                            static_cast<QWidget*>(m_lineState)})
        unused->hide();
    if (!receive->open(QFile::encodeName(path).toStdString())) return false;
    startHost();
    return !m_engine->closed();
}

QWidget* TransferWindow::widgetFor(Element element) const {
    switch (element) {
        case Element::StartButton: return m_command1;
        case Element::QuitButton: return m_command2;
        case Element::ResendButton: return m_command3;
        case Element::StatusLine: return m_label3;
        case Element::KeyHint: return m_label4;
        case Element::Caption0: return m_label5[0];
        case Element::Caption1: return m_label5[1];
        case Element::Caption2: return m_label5[2];
        case Element::Caption3: return m_label5[3];
        case Element::Caption4: return m_label5[4];
        case Element::Caption5: return m_label5[5];
        case Element::WordsPerSecond: return m_label2;
        case Element::AmountSent: return m_label6;
        case Element::Amount: return m_label7;
        case Element::Remaining: return m_label8;
        case Element::Elapsed: return m_label9;
        case Element::MaxBits: return m_label10;
        case Element::TextBox: return m_text;
        case Element::ProgressBar: return m_progress;
    }
    return nullptr;
}

void TransferWindow::setText(Element element, const std::string& text) {
    QWidget* w = widgetFor(element);
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(fromUtf8(text));
    else if (auto* button = qobject_cast<QPushButton*>(w))
        button->setText(buttonCaption(text));
}

void TransferWindow::setVisible(Element element, bool visible) {
    if (element == Element::TextBox) return;  // the layout decides (Send or Read)
    if (QWidget* w = widgetFor(element)) w->setVisible(visible);
}

void TransferWindow::setEnabled(Element element, bool enabled) {
    if (element == Element::TextBox) {
        // Disabled means closed to edits: the operator may still scroll.
        m_text->setEditable(enabled);
        return;
    }
    if (QWidget* w = widgetFor(element)) w->setEnabled(enabled);
}

void TransferWindow::setProgress(std::int64_t maximum, std::int64_t value) {
    if (maximum <= 0) {
        // Nothing to send: an empty bar (a range of 0..0 would be the
        // striped "busy" bar).
        m_progress->setRange(0, 1);
        m_progress->setValue(0);
        return;
    }
    // A progress bar counts in int: scale very large programs down.
    std::int64_t scale = 1;
    while (maximum / scale > INT_MAX) scale *= 2;
    m_progress->setRange(0, static_cast<int>(maximum / scale));
    m_progress->setValue(static_cast<int>(std::min(value, maximum) / scale));
}

void TransferWindow::loadText(const std::string& text) { m_text->setBytes(text); }

void TransferWindow::highlightHeldLine(std::int64_t position) { m_text->highlightLine(position); }

void TransferWindow::showReceived(const std::string& tail) {
    m_picture->setText(QString::fromLatin1(tail.data(), static_cast<qsizetype>(tail.size())));
}

void TransferWindow::placeBeforeShowing() {
    if (isVisible() || testAttribute(Qt::WA_Moved)) return;
    // Where the window will show (centred on its parent, within the screen),
    // so that a box asked while it opens is centred on it, not on a window
    // still at the screen's corner.
    const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* on = over ? over->screen() : screen();
    const QRect area = on ? on->availableGeometry() : QRect();
    QRect place(QPoint(0, 0), size());
    place.moveCenter(over ? over->geometry().center() : area.center());
    if (area.isValid()) {
        place.moveLeft(std::max(area.left(), std::min(place.left(), area.right() - place.width())));
        place.moveTop(std::max(area.top(), std::min(place.top(), area.bottom() - place.height())));
    }
    move(place.topLeft());
}

Answer TransferWindow::ask(const Message& message) {
    placeBeforeShowing();
    return ui::ask(this, message);
}

std::string TransferWindow::chooseFile(const std::string& title, const std::string& filter) {
    placeBeforeShowing();
    QString path = openFileName(this, {QString::fromStdString(title),
                                       QString::fromStdString(filter), QString()});
    std::string chosen = QFile::encodeName(path).toStdString();
    m_app.settings.lastFilePath = chosen;
    if (!path.isEmpty()) setWindowTitle("Send : " + path);
    return chosen;
}

void TransferWindow::showLineState(LineState state, std::int64_t seconds) {
    m_lineLight->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #606060; "
                                              "border-radius: %2px;")
                                   .arg(lineColour(state))
                                   .arg(m_lineLight->width() / 2));
    const QString text = QString::fromStdString(lineStateText(state, seconds));
    m_lineState->setText(text);
}

void TransferWindow::transferActive(bool active) {
    if (active) m_screenSaver.inhibit();
    else m_screenSaver.release();
}

void TransferWindow::closeWindow() {
    m_screenSaver.release();
    if (m_host) m_host->stop();
    if (!m_closing) done(QDialog::Accepted);
}

void TransferWindow::escapePressed() {
    if (m_engine && !m_engine->closed()) m_engine->quitPressed();
}

bool TransferWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (event->type() == QEvent::KeyPress) escapePressed();
        event->accept();
        return event->type() == QEvent::KeyPress;
    }
    return QDialog::eventFilter(watched, event);
}

void TransferWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        escapePressed();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter presses the button that has the focus (none is the default,
        // so that Enter elsewhere presses nothing).
        pressFocusedButton(this, event);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TransferWindow::reject() {
    // The title bar's close: a send stops, a receive goes through the quit
    // path so that nothing received is lost.
    if (m_engine && !m_engine->closed()) {
        m_text->settle();
        if (!m_engine->closeRequested()) return;
    }
    if (isVisible()) QDialog::reject();
}

void TransferWindow::closeEvent(QCloseEvent* event) {
    if (m_engine && !m_engine->closed()) {
        m_closing = true;
        const bool close = m_engine->closeRequested();
        m_closing = false;
        if (!close) {
            event->ignore();
            return;
        }
    }
    if (m_host) m_host->stop();
    QDialog::closeEvent(event);
}

}  // namespace fbx::ui
