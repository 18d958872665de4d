#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace fbx::ui {

// The title of boxes that have none of their own: the program's name.
std::string programTitle();

// The search dialog (numSearch, caption "Search"), opened from the editor
// window and kept above all other windows. It only asks: the search itself
// runs in the editor window, which answers through showHit and showEnd.
// Deletes itself when closed.
class SearchDialog : public QDialog {
    Q_OBJECT
public:
    explicit SearchDialog(QWidget* editor);

    // A hit: "byte" and "line" counted from 1, and the lines around it.
    void showHit(qint64 hitPosition, qint64 line, const QString& context);
    // No (further) occurrence: the next search starts at the top.
    void showEnd();

    QLineEdit* wordBox() const { return m_word; }
    QPushButton* searchButton() const { return m_search; }
    QPushButton* quitButton() const { return m_quit; }
    QPlainTextEdit* contextBox() const { return m_context; }
    QLabel* byteLabel() const { return m_byte; }
    QLabel* lineLabel() const { return m_line; }

signals:
    // The search word as typed (not empty); the editor runs the step 100 ms
    // later.
    void searchRequested(const QString& typed);
    // The word was edited: the next search starts at the top.
    void wordChanged();

private:
    void OnSearchClicked();

    QLineEdit* m_word = nullptr;        // Text1
    QPushButton* m_search = nullptr;    // Command2
    QPushButton* m_quit = nullptr;      // Command3
    QPlainTextEdit* m_context = nullptr;// Text2
    QLabel* m_byte = nullptr;           // Label2(0)
    QLabel* m_line = nullptr;           // Label2(1)
};

}  // namespace fbx::ui
