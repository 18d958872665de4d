#include "Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace fbx::ui {

namespace {

QMessageBox::Icon iconOf(Icon icon) {
    switch (icon) {
        case Icon::Stop: return QMessageBox::Critical;
        case Icon::Question: return QMessageBox::Question;
        case Icon::Exclamation: return QMessageBox::Warning;
        case Icon::Information: return QMessageBox::Information;
        case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

class RealPrompts : public PromptHandler {
public:
    Answer ask(QWidget* parent, const Message& m) override {
        if (m.beep) QApplication::beep();
        QMessageBox box(iconOf(m.icon), QString::fromStdString(m.title),
                        QString::fromStdString(m.text), QMessageBox::NoButton, parent);
        if (!m.detail.empty()) box.setDetailedText(QString::fromStdString(m.detail));
        switch (m.buttons) {
            case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
            case Buttons::OkCancel:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
            case Buttons::SaveDiscardCancel:
                box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard |
                                       QMessageBox::Cancel);
                box.setDefaultButton(QMessageBox::Save);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Cancel: return Answer::Cancel;
            case QMessageBox::Yes: return Answer::Yes;
            case QMessageBox::No: return Answer::No;
            case QMessageBox::Save: return Answer::Save;
            case QMessageBox::Discard: return Answer::Discard;
            default: break;
        }
        // Closing the box with Esc or the title bar counts as its negative
        // button where it has one.
        if (box.clickedButton() == nullptr &&
            (m.buttons == Buttons::OkCancel || m.buttons == Buttons::SaveDiscardCancel))
            return Answer::Cancel;
        return Answer::Ok;
    }

    QString openFileName(QWidget* parent, const FileQuestion& q) override {
        return QFileDialog::getOpenFileName(parent, q.title, q.fileName, dialogFilter(q.filter));
    }

    QString saveFileName(QWidget* parent, const FileQuestion& q) override {
        // The callers ask their own overwrite question.
        return QFileDialog::getSaveFileName(parent, q.title, q.fileName, dialogFilter(q.filter),
                                            nullptr, QFileDialog::DontConfirmOverwrite);
    }

    bool preparePrinter(QWidget* parent, QPrinter& printer, const QString& title,
                        bool hasSelection) override {
        QPrintDialog dialog(&printer, parent);
        setUpPrintDialog(dialog, title, hasSelection);
        return dialog.exec() == QDialog::Accepted;
    }
};

RealPrompts g_real;
PromptHandler* g_handler = &g_real;

}  // namespace

PromptHandler& prompts() { return *g_handler; }

void setPromptHandler(PromptHandler* handler) { g_handler = handler ? handler : &g_real; }

Answer ask(QWidget* parent, const Message& message) { return prompts().ask(parent, message); }

QString openFileName(QWidget* parent, const FileQuestion& q) {
    return prompts().openFileName(parent, q);
}

QString saveFileName(QWidget* parent, const FileQuestion& q) {
    return prompts().saveFileName(parent, q);
}

void setUpPrintDialog(QPrintDialog& dialog, const QString& title, bool hasSelection) {
    dialog.setWindowTitle(title);
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile |
                                                       QAbstractPrintDialog::PrintShowPageSize |
                                                       QAbstractPrintDialog::PrintCollateCopies;
    if (hasSelection) options |= QAbstractPrintDialog::PrintSelection;
    dialog.setOptions(options);
    dialog.setPrintRange(hasSelection ? QAbstractPrintDialog::Selection
                                      : QAbstractPrintDialog::AllPages);
}

QString dialogFilter(const QString& filter) {
    // "*.*|*.*" is description|pattern; a bare pattern is its own description.
    const QStringList parts = filter.split('|');
    if (parts.size() >= 2) return parts[0] + " (" + parts[1] + ")";
    return filter + " (" + filter + ")";
}

}  // namespace fbx::ui
