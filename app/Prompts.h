#pragma once

#include <QString>

#include "Message.h"

class QWidget;
class QPrinter;
class QPrintDialog;
class QFileDialog;

namespace fbx::ui {

// What a file dialog is asked: its title, filter and starting name (a file's
// path, or a directory to start in).
struct FileQuestion {
    QString title;
    QString filter;  // e.g. "*.txt" or "*.*|*.*"; ";;" separates further filters
    QString fileName;
};

// Every message box, file dialog and print dialog of the window program goes
// through the current handler. The default one shows the real dialogs; tests
// install one that answers and records what was asked.
class PromptHandler {
public:
    virtual ~PromptHandler() = default;
    virtual Answer ask(QWidget* parent, const Message& message) = 0;
    // Empty when cancelled.
    virtual QString openFileName(QWidget* parent, const FileQuestion& question) = 0;
    virtual QString saveFileName(QWidget* parent, const FileQuestion& question) = 0;
    // Lets the operator choose the printer; false when cancelled.
    // hasSelection: the range offered is the selection, else all pages.
    // pdfName: the file proposed for printing to a PDF file (none: empty).
    virtual bool preparePrinter(QWidget* parent, QPrinter& printer, const QString& title,
                                bool hasSelection, const QString& pdfName) = 0;
};

// The handler in force (the real dialogs unless a test installed another).
PromptHandler& prompts();
// Installs a handler; nullptr restores the real dialogs. The caller keeps
// ownership.
void setPromptHandler(PromptHandler* handler);

// Shorthands through the handler in force.
Answer ask(QWidget* parent, const Message& message);
QString openFileName(QWidget* parent, const FileQuestion& question);
QString saveFileName(QWidget* parent, const FileQuestion& question);

// The print dialog as the real handler shows it: the title, the range offered
// (the selection, else all pages; page numbers cannot be chosen) and printing
// to a PDF file, which is there even on a machine without any printer, with
// pdfName proposed as its file when it is not empty.
void setUpPrintDialog(QPrintDialog& dialog, const QString& title, bool hasSelection,
                      const QString& pdfName = {});

// A program's filter followed by "NC programs (*.nc *.tap *.cnc *.mpf *.txt)"
// and "All files (*)".
QString withProgramFilters(const QString& filter);

// Turns a "*.txt" or "*.*|*.*" filter into the file dialog's form ("*.*"
// shows every file, as it does on the desktop the filters come from); filters
// already in that form ("NC programs (*.nc)") stay as they are.
QString dialogFilter(const QString& filter);

// The file dialog as the real handler shows it: the question's title,
// filters and starting file, the first filter that shows that file selected,
// and the detail view at a size where name, size, type and date are readable.
void setUpFileDialog(QFileDialog& dialog, const FileQuestion& question);

}  // namespace fbx::ui
