#include "Prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QTreeView>
#include <algorithm>

#include "Look.h"

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
        QFileDialog dialog(parent);
        setUpFileDialog(dialog, q);
        dialog.setFileMode(QFileDialog::ExistingFile);
        return chosen(dialog);
    }

    QString saveFileName(QWidget* parent, const FileQuestion& q) override {
        QFileDialog dialog(parent);
        setUpFileDialog(dialog, q);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // The callers ask their own overwrite question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        return chosen(dialog);
    }

    bool preparePrinter(QWidget* parent, QPrinter& printer, const QString& title, bool hasSelection,
                        const QString& pdfName) override {
        QPrintDialog dialog(&printer, parent);
        setUpPrintDialog(dialog, title, hasSelection, pdfName);
        return dialog.exec() == QDialog::Accepted;
    }

private:
    static QString chosen(QFileDialog& dialog) {
        if (dialog.exec() != QDialog::Accepted) return {};
        return dialog.selectedFiles().value(0);
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

void setUpPrintDialog(QPrintDialog& dialog, const QString& title, bool hasSelection,
                      const QString& pdfName) {
    dialog.setWindowTitle(title);
    // The dialog's own proposal is a name in the current directory; the
    // field is the one of the dialog Qt draws itself (a desktop's own print
    // dialog has none).
    if (auto* file = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
        file && !pdfName.isEmpty())
        file->setText(pdfName);
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile |
                                                       QAbstractPrintDialog::PrintShowPageSize |
                                                       QAbstractPrintDialog::PrintCollateCopies;
    if (hasSelection) options |= QAbstractPrintDialog::PrintSelection;
    dialog.setOptions(options);
    dialog.setPrintRange(hasSelection ? QAbstractPrintDialog::Selection
                                      : QAbstractPrintDialog::AllPages);
}

QString withProgramFilters(const QString& filter) {
    return filter + ";;NC programs (*.nc *.tap *.cnc *.mpf *.txt);;All files (*)";
}

QString dialogFilter(const QString& filter) {
    // "*.*" means every file, also those without an extension.
    auto pattern = [](const QString& p) { return p == "*.*" ? QStringLiteral("*") : p; };
    QStringList filters;
    for (const QString& one : filter.split(";;")) {
        // "*.*|*.*" is description|pattern; a bare pattern is its own
        // description.
        const QStringList parts = one.split('|');
        if (one.contains('(')) filters << one;
        else if (parts.size() >= 2) filters << parts[0] + " (" + pattern(parts[1]) + ")";
        else filters << one + " (" + pattern(one) + ")";
    }
    return filters.join(";;");
}

void setUpFileDialog(QFileDialog& dialog, const FileQuestion& q) {
    dialog.setWindowTitle(q.title);
    const QFileInfo start(q.fileName);
    if (!q.fileName.isEmpty()) {
        if (start.isDir()) {
            dialog.setDirectory(q.fileName);
        } else {
            dialog.setDirectory(start.absolutePath());
            dialog.selectFile(start.fileName());
        }
    }
    const QStringList filters = dialogFilter(q.filter).split(";;");
    dialog.setNameFilters(filters);
    for (const QString& filter : filters) {
        const QString patterns = filter.section('(', 1).section(')', 0, 0);
        if (start.fileName().isEmpty() ||
            QDir::match(patterns.split(' ', Qt::SkipEmptyParts), start.fileName())) {
            dialog.selectNameFilter(filter);
            break;
        }
    }

    dialog.setViewMode(QFileDialog::Detail);
    const QRect screen = dialog.screen()->availableGeometry();
    dialog.resize(std::min(screen.width() * 9 / 10, twips(14400, &dialog)),
                  std::min(screen.height() * 8 / 10, twips(8640, &dialog)));
    // Size, type and date as wide as what they show ("105.47 KiB"), the name
    // taking the rest, each time a directory's listing is in.
    auto* view = dialog.findChild<QTreeView*>();
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!view || !model) return;  // the desktop's own dialog
    QObject::connect(model, &QFileSystemModel::directoryLoaded, view, [view] {
        QHeaderView* header = view->header();
        int others = 0;
        for (int column = 1; column < header->count(); ++column) {
            view->resizeColumnToContents(column);
            others += header->sectionSize(column);
        }
        const int least = view->fontMetrics().horizontalAdvance(QString(16, 'w'));
        header->resizeSection(0, std::max(least, view->viewport()->width() - others));
    });
}

}  // namespace fbx::ui
