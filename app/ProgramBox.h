#pragma once

#include <Qsci/qsciscintilla.h>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fbx::ui {

// The transfer window's text box: the program as it will be sent, every byte
// as it is (8-bit). Edits by the operator reach the send engine through
// `gate` as one replacement of the changed region; a refused edit is undone
// in the box, whatever made it (a typed key, Backspace, Delete, paste, cut,
// drop, undo), so the box always shows exactly the text being sent.
//
// Keys that move the focus never change the program: Tab, Shift+Tab and
// Ctrl+Tab go to the next or previous control, and Alt with a letter reaches
// the window's buttons instead of typing. Enter types CR LF. The box shows
// whole rows only: its text area is a whole number of rows high.
class ProgramBox : public QsciScintilla {
    Q_OBJECT
public:
    explicit ProgramBox(QWidget* parent = nullptr);

    // Replaces the whole content; not an edit of the operator's.
    void setBytes(const std::string& bytes);
    std::string bytes() const;

    // Whether the operator may edit at all ("enabled").
    void setEditable(bool editable);
    bool editable() const { return m_editable; }

    // Selects the line holding the 0-based position and gives it the held
    // line's colour; clearHighlight() takes both away again.
    void highlightLine(std::int64_t position);
    void clearHighlight();
    bool highlighted() const { return m_highlighted; }

    // Asked for each edit: replace removed characters at position with
    // inserted; false refuses it. source() is the text the box mirrors.
    std::function<bool(std::int64_t, std::int64_t, std::string_view)> gate;
    std::function<const std::string&()> source;
    // The first position the operator may change (-1: none); used to keep
    // the caret's side of the boundary read-only.
    std::function<std::int64_t()> firstEditable;

    // Applies a pending edit now instead of at the next turn of the event
    // loop (tests, and before the engine is stepped).
    void settle();

    int refusedEdits() const { return m_refused; }

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void onModified(int position, int type, const char* text, int length);
    void updateReadOnly();

    bool m_editable = true;
    bool m_highlighted = false;
    bool m_loading = false;
    bool m_batch = false;
    std::int64_t m_batchStart = 0;   // no change before this position
    std::int64_t m_batchSuffix = 0;  // no change in this many last characters
    int m_refused = 0;
    int m_rowRest = 0;  // pixels under the last whole row, left out of the text area
};

}  // namespace fbx::ui
