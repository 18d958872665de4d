#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace fbx::ui {

struct AppContext;

// "Instruction": the operator's manual in a text box that may be typed into;
// nothing typed survives, each opening shows the manual afresh.
class InstructionWindow : public QDialog {
    Q_OBJECT
public:
    explicit InstructionWindow(const AppContext& app, QWidget* parent = nullptr);

    QPlainTextEdit* textBox() const { return m_text; }

private:
    QPlainTextEdit* m_text = nullptr;
};

}  // namespace fbx::ui
