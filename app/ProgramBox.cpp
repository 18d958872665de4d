#include "ProgramBox.h"

#include <Qsci/qsciscintillabase.h>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>

#include "Look.h"
#include "PlainAccessible.h"

namespace fbx::ui {

namespace {
using Sci = QsciScintillaBase;
const QColor kHeldLine(255, 100, 255);
}  // namespace

ProgramBox::ProgramBox(QWidget* parent) : QsciScintilla(parent) {
    describeAsPlainText(this);
    setUtf8(false);
    setFont(QFont("Monospace", 10));
    setMarginWidth(0, 0);
    setMarginWidth(1, 0);
    setWrapMode(QsciScintilla::WrapNone);
    setEolMode(QsciScintilla::EolWindows);
    SendScintilla(Sci::SCI_SETSCROLLWIDTHTRACKING, 1L);
    // Only the notices sent before a change: those after it make the text
    // area count characters from the start of the text for its accessibility
    // support, which costs a fifth of a second per key at the end of 50 MB.
    SendScintilla(Sci::SCI_SETMODEVENTMASK,
                  static_cast<long>(Sci::SC_MOD_BEFOREINSERT | Sci::SC_MOD_BEFOREDELETE));
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char* text, int length, int, int, int, int, int,
                   int) { onModified(position, type, text, length); });
    connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, [this](int) { updateReadOnly(); });
}

void ProgramBox::setBytes(const std::string& bytes) {
    m_loading = true;
    m_batch = false;
    SendScintilla(Sci::SCI_SETREADONLY, 0L);
    SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0L);
    SendScintilla(Sci::SCI_CLEARALL);
    SendScintilla(Sci::SCI_APPENDTEXT, static_cast<unsigned long>(bytes.size()), bytes.data());
    SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1L);
    SendScintilla(Sci::SCI_EMPTYUNDOBUFFER);
    SendScintilla(Sci::SCI_GOTOPOS, 0UL);
    // A box laid out before it was shown (while a message box ran the event
    // loop) is too small for one line and would keep the first line above
    // its top: the text starts at its first line and column.
    SendScintilla(Sci::SCI_SETFIRSTVISIBLELINE, 0UL);
    SendScintilla(Sci::SCI_SETXOFFSET, 0UL);
    m_loading = false;
    updateReadOnly();
}

std::string ProgramBox::bytes() const {
    auto* self = const_cast<ProgramBox*>(this);
    long length = self->SendScintilla(Sci::SCI_GETLENGTH);
    const char* data =
        static_cast<const char*>(self->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
    return data ? std::string(data, static_cast<size_t>(length)) : std::string();
}

void ProgramBox::setEditable(bool editable) {
    m_editable = editable;
    setPaper(editable ? QColor(Qt::white) : QColor(236, 236, 236));
    updateReadOnly();
}

void ProgramBox::updateReadOnly() {
    if (m_loading) return;
    bool readOnly = !m_editable;
    if (!readOnly && firstEditable) {
        // A key typed at or before the next unsent character is discarded.
        const std::int64_t first = firstEditable();
        const long caret = SendScintilla(Sci::SCI_GETSELECTIONSTART);
        readOnly = first < 0 || caret < first;
    }
    if ((SendScintilla(Sci::SCI_GETREADONLY) != 0) != readOnly)
        SendScintilla(Sci::SCI_SETREADONLY, readOnly ? 1L : 0L);
}

bool ProgramBox::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::AltModifier | Qt::MetaModifier))) {
            QWidget::focusNextPrevChild(key->key() == Qt::Key_Tab &&
                                        !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QsciScintilla::event(event);
}

bool ProgramBox::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) {
        const int row = static_cast<int>(SendScintilla(Sci::SCI_TEXTHEIGHT, 0UL));
        const int rest = row > 0 ? (viewport()->height() + m_rowRest) % row : 0;
        if (rest != m_rowRest) {
            m_rowRest = rest;
            setViewportMargins(0, 0, 0, rest);  // resizes the text area again
        }
    }
    return QsciScintilla::viewportEvent(event);
}

void ProgramBox::keyPressEvent(QKeyEvent* event) {
    // Alt with a letter is a button's key: it never types into the program.
    if ((event->modifiers() & Qt::AltModifier) && !event->text().isEmpty() &&
        event->text().at(0).isPrint()) {
        event->ignore();
        return;
    }
    // The caret may have moved since the last repaint: decide now.
    updateReadOnly();
    QsciScintilla::keyPressEvent(event);
}

void ProgramBox::inputMethodEvent(QInputMethodEvent* event) {
    updateReadOnly();
    QsciScintilla::inputMethodEvent(event);
}

void ProgramBox::highlightLine(std::int64_t position) {
    const long line = SendScintilla(Sci::SCI_LINEFROMPOSITION, static_cast<unsigned long>(position));
    const long start = SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const long length = SendScintilla(Sci::SCI_LINELENGTH, static_cast<unsigned long>(line));
    setSelectionBackgroundColor(kHeldLine);
    SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(start), start + length);
    SendScintilla(Sci::SCI_SCROLLCARET);
    m_highlighted = true;
}

void ProgramBox::clearHighlight() {
    if (!m_highlighted) return;
    m_highlighted = false;
    resetSelectionBackgroundColor();
    const long caret = SendScintilla(Sci::SCI_GETCURRENTPOS);
    SendScintilla(Sci::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
}

void ProgramBox::onModified(int position, int type, const char*, int length) {
    if (m_loading) return;
    const bool insert = type & Sci::SC_MOD_BEFOREINSERT;
    if (!insert && !(type & Sci::SC_MOD_BEFOREDELETE)) return;
    // Told before the change: what follows the changed region stays as it is.
    const std::int64_t oldLength = SendScintilla(Sci::SCI_GETLENGTH);
    const std::int64_t suffix = oldLength - position - (insert ? 0 : length);
    if (!m_batch) {
        m_batch = true;
        m_batchStart = position;
        m_batchSuffix = suffix;
        // The box may not be changed while it notifies: settle afterwards.
        QTimer::singleShot(0, this, &ProgramBox::settle);
    } else {
        m_batchStart = std::min<std::int64_t>(m_batchStart, position);
        m_batchSuffix = std::min(m_batchSuffix, suffix);
    }
}

void ProgramBox::settle() {
    if (!m_batch) return;
    m_batch = false;
    if (!source) return;
    const std::string& text = source();
    const std::int64_t sourceLength = static_cast<std::int64_t>(text.size());
    const std::int64_t boxLength = SendScintilla(Sci::SCI_GETLENGTH);
    const std::int64_t start = m_batchStart;
    const std::int64_t sourceEnd = sourceLength - m_batchSuffix;
    const std::int64_t boxEnd = boxLength - m_batchSuffix;
    if (start < 0 || sourceEnd < start || boxEnd < start) {
        setBytes(text);  // cannot happen while box and source agree; resynchronise
        ++m_refused;
        return;
    }
    const char* changed = reinterpret_cast<const char*>(
        SendScintilla(Sci::SCI_GETRANGEPOINTER, static_cast<unsigned long>(start),
                      static_cast<long>(boxEnd - start)));
    std::string_view inserted(changed ? changed : "", static_cast<size_t>(boxEnd - start));
    if (gate && gate(start, sourceEnd - start, inserted)) return;

    // Refused: put the source's text back in the changed region.
    ++m_refused;
    const long caret = SendScintilla(Sci::SCI_GETCURRENTPOS);
    m_loading = true;
    SendScintilla(Sci::SCI_SETREADONLY, 0L);
    SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0L);
    SendScintilla(Sci::SCI_SETTARGETRANGE, static_cast<unsigned long>(start), static_cast<long>(boxEnd));
    SendScintilla(Sci::SCI_REPLACETARGET, static_cast<unsigned long>(sourceEnd - start),
                  text.data() + start);
    SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1L);
    SendScintilla(Sci::SCI_EMPTYUNDOBUFFER);
    SendScintilla(Sci::SCI_GOTOPOS, static_cast<unsigned long>(std::min<long>(caret, sourceEnd)));
    m_loading = false;
    updateReadOnly();
}

}  // namespace fbx::ui
