#include "SearchDialog.h"

#include <QGuiApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Desktop.h"
#include "Look.h"
#include "Prompts.h"

namespace fbx::ui {

std::string programTitle() { return QGuiApplication::applicationDisplayName().toStdString(); }

SearchDialog::SearchDialog(QWidget* editor) : QDialog(editor) {
    setObjectName("numSearch");
    setWindowTitle("Search");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setFont(systemFont(9));

    m_word = new QLineEdit(this);
    m_word->setObjectName("Text1");
    m_search = new QPushButton("Search", this);
    m_search->setObjectName("Command2");
    m_search->setDefault(true);
    m_quit = new QPushButton("Quit", this);
    m_quit->setObjectName("Command3");
    m_context = new QPlainTextEdit(this);
    m_context->setObjectName("Text2");
    m_context->setReadOnly(true);
    m_context->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_context->setFont(QFont("monospace", 9));
    m_byte = new QLabel(this);
    m_byte->setObjectName("Label2_0");
    m_line = new QLabel(this);
    m_line->setObjectName("Label2_1");
    for (QLabel* value : {m_byte, m_line}) {
        value->setFrameShape(QFrame::Panel);
        value->setFrameShadow(QFrame::Sunken);
        value->setMinimumWidth(twips(1200, this));
    }

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Search word", this), 0, 0);
    grid->addWidget(m_word, 0, 1, 1, 3);
    grid->addWidget(new QLabel("line", this), 1, 0);
    grid->addWidget(m_line, 1, 1);
    grid->addWidget(new QLabel("byte", this), 1, 2);
    grid->addWidget(m_byte, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_search);
    buttons->addWidget(m_quit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_context, 1);
    layout->addLayout(buttons);
    placeWindow(this, QSize(twips(6000, this), twips(4200, this)), QStringLiteral("search"));

    connect(m_word, &QLineEdit::textChanged, this, [this] {
        m_search->setText("Search");
        emit wordChanged();
    });
    connect(m_search, &QPushButton::clicked, this, &SearchDialog::OnSearchClicked);
    connect(m_quit, &QPushButton::clicked, this, &QDialog::close);
}

void SearchDialog::OnSearchClicked() {
    if (m_word->text().isEmpty()) {
        Message m;
        m.text = "Data empty search";
        m.title = programTitle();
        m.icon = Icon::Information;
        m.buttons = Buttons::Ok;
        ask(this, m);
        return;
    }
    emit searchRequested(m_word->text());
    m_search->setText("next");
}

void SearchDialog::showHit(qint64 hitPosition, qint64 line, const QString& context) {
    m_byte->setText(QString::number(hitPosition));
    m_line->setText(QString::number(line));
    m_context->setPlainText(context);
}

void SearchDialog::showEnd() { m_search->setText("Search"); }

}  // namespace fbx::ui
