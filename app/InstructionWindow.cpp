#include "InstructionWindow.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "AppContext.h"
#include "DataFiles.h"
#include "Desktop.h"
#include "Look.h"

namespace fbx::ui {

InstructionWindow::InstructionWindow(const AppContext& app, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("Instruction"));
    placeWindow(this, QSize(twips(6870, this), twips(5100, this)), QStringLiteral("instruction"));

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("Text1"));
    m_text->setFont(systemFont(12));
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text->setTabStopDistance(m_text->fontMetrics().horizontalAdvance(' ') * 8);
    m_text->setPlainText(manualText(app.programDir));

    // The text box fills the window, also when the operator enlarges it.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
}

}  // namespace fbx::ui
