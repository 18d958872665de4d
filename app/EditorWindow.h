#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Numbering.h"
#include "Search.h"

class QAction;
class QCloseEvent;
class QLabel;
class QTimer;
class QToolBar;
class QVBoxLayout;
class QsciScintilla;

namespace fbx::ui {

struct AppContext;
class SearchDialog;

// The built-in program editor (Form7, modeless). It deletes itself when closed
// and then sets app.editorOpen back to 0.
//
// Typed edits are never dropped unasked: while the text differs from the one
// opened or last saved, the caption carries a leading "*", and closing the
// window (Ctrl+W), or opening another file, first asks "Save changes to
// NAME?" (Save, Discard, Cancel). Save that does not end with the file written
// keeps the window and its text.
//
// The search runs on the text as it is at each step, and goes on from the
// caret (F3 as well).
//
// The text area (Ric0) holds the program as 8-bit bytes: every byte a file
// holds, NUL included, is loaded and saved unchanged; bytes above 127 are
// shown in Latin-1.
//
// Long work runs in slices of under 10 ms from zero-interval timers, so the
// window (and the main window beside it) stays responsive on programs of
// hundreds of megabytes: loading a file, and the numbering pass. While either
// runs the window is busy: the toolbar is disabled (a second "Made N" press,
// a save of a half-loaded text or an open in the middle of a pass cannot
// happen), and the text area is read-only while it fills.
//
// All of it runs on the user-interface thread.
class EditorWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit EditorWindow(AppContext& app, QWidget* parent = nullptr);
    ~EditorWindow() override;

    // Toolbar commands, by the keys of their buttons.
    void OpenProgram();      // "Open1"
    void SaveProgramAs();    // "Save1"
    void PrintProgram();     // "Print1"
    void CutSelection();     // "Cut1"
    void CopySelection();    // "Copy1"
    void PasteClipboard();   // "Paste1"
    void UndoEdit();         // "Undo1"
    void ShowSearchDialog(); // "Preview1"
    void NumberLines();      // "NNumber"
    void FindNext();         // F3: the search dialog's "next"

    // Whether the text may go: true when it is unchanged, saved, or the
    // operator discards it; false when the operator keeps it.
    bool MayDropText();

    // The file the text came from or was last saved to; empty when none.
    const QString& fileName() const { return m_fileName; }

    // True while a file loads or the numbering pass runs.
    bool isBusy() const { return m_busy; }
    // The bytes of the text area, as they would be saved (without the CR LF
    // saving adds to a text that does not end with a line end).
    std::string programText() const;
    // Replaces the whole text (not undoable).
    void setProgramText(std::string_view bytes);
    QsciScintilla* textArea() const { return m_text; }
    SearchDialog* searchDialog() const;

signals:
    // A file's text is completely in the text area.
    void programLoaded();
    // The numbering pass ended, numbered or refused.
    void numberingFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Save as; true when the text is in the file chosen.
    bool SaveToChosenFile();
    void UpdateTitle();
    void BuildToolbar();
    void BuildStatusRow(QVBoxLayout* layout);
    void OnToolbar(QAction* action);
    void UpdateStatusLabels();
    void SetBusy(bool busy);

    void LoadSlice();
    void FinishLoad();
    void NumberSlice();
    void FinishNumbering(bool refused);
    void AppendBytes(std::string_view bytes);

    void SearchStep();  // Timer3

    AppContext& m_app;
    QString m_fileName;
    QsciScintilla* m_text = nullptr;   // Ric0
    QToolBar* m_toolBar = nullptr;     // tbToolBar
    QAction* m_findNext = nullptr;
    QLabel* m_lineCount = nullptr;     // Label2
    QLabel* m_caretLine = nullptr;     // Label5
    QLabel* m_caretPosition = nullptr; // Label1
    QLabel* m_notice = nullptr;        // Label4
    QTimer* m_openTimer = nullptr;     // Timer2
    QTimer* m_searchTimer = nullptr;   // Timer3
    QTimer* m_workTimer = nullptr;     // drives loading and numbering slices
    bool m_busy = false;

    // Loading: the file's bytes and how far they are in the text area.
    std::string m_loadBytes;
    std::size_t m_loaded = 0;

    // Numbering: the pass over the text area's buffer, and each block it
    // numbered: where it ends in the old text, and its numbered text.
    struct NumberedBlock {
        std::size_t sourceEnd = 0;
        std::string numbered;
    };
    std::unique_ptr<editor::NumberingPass> m_pass;
    std::vector<NumberedBlock> m_blocks;
    bool m_undoGroupOpen = false;

    // Search state shared with the search dialog.
    QPointer<SearchDialog> m_searchDialog;
    editor::TextSearch m_search;
    std::string m_searchWord;
};

}  // namespace fbx::ui
