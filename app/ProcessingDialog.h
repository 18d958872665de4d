#pragma once

#include <QDialog>
#include <array>
#include <string>

class QLineEdit;

namespace fbx::ui {

struct AppContext;

// The seven processing strings, one text box each (Text1, indexes 0..6:
// Stater, Termination, Replace #1 .. Replace#5). "O K" stores every text
// first, then refuses a box whose bracket count cannot make a rule; the
// dialog then stays open with the texts as typed. Closing it any other way
// stores nothing.
class ProcessingDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProcessingDialog(AppContext& app, QWidget* parent = nullptr);

    QLineEdit* text1(int index) const { return m_texts.at(index); }

    // A box passes when it is empty or holds 0 or 6 bracket characters, "["
    // and "]" counted together, in any order.
    static bool bracketCountAcceptable(const std::string& text);

private:
    void okPressed();

    AppContext& m_app;
    std::array<QLineEdit*, 7> m_texts{};
};

}  // namespace fbx::ui
