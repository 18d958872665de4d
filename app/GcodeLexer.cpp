#include "GcodeLexer.h"

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <vector>

#include <Qsci/qsciscintilla.h>

namespace fbx::ui {

namespace {

using Sci = QsciScintillaBase;

// A styleText over more than this is taken as a jump; only its last part can
// be on screen.
constexpr long kLongRange = 1 << 20;
constexpr long kTail = 256 << 10;

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsValueChar(unsigned char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+'; }

}  // namespace

void StyleGcode(std::string_view text, char* styles) {
    using S = GcodeLexer::Style;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Start of a line: leading blanks, then a block-delete or tape mark,
        // then the block number.
        while (i < n && (text[i] == ' ' || text[i] == '\t')) styles[i++] = S::Default;
        if (i < n && (text[i] == '/' || text[i] == '%')) styles[i++] = S::Mark;
        if (i < n && (text[i] == 'N' || text[i] == 'n')) {
            std::size_t j = i + 1;
            while (j < n && text[j] == ' ') ++j;
            if (j < n && text[j] >= '0' && text[j] <= '9') {
                while (j < n && text[j] >= '0' && text[j] <= '9') ++j;
                while (i < j) styles[i++] = S::BlockNumber;
            }
        }
        while (i < n && text[i] != '\n') {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c == '(' || c == ';') {
                const char close = c == '(' ? ')' : '\n';
                while (i < n && text[i] != '\n') {
                    const bool last = text[i] == close;
                    styles[i++] = S::Comment;
                    if (last) break;
                }
            } else if (IsLetter(c)) {
                std::size_t j = i + 1;
                while (j < n && text[j] == ' ') ++j;
                if (j < n && IsValueChar(static_cast<unsigned char>(text[j]))) {
                    const bool command = c == 'G' || c == 'M' || c == 'g' || c == 'm';
                    styles[i] = command ? S::Command : S::Address;
                    for (++i; i < j; ++i) styles[i] = S::Default;
                    while (i < n && IsValueChar(static_cast<unsigned char>(text[i])))
                        styles[i++] = command ? S::Command : S::Value;
                } else {
                    styles[i++] = S::Default;
                }
            } else if (c == '%') {
                styles[i++] = S::Mark;
            } else {
                styles[i++] = S::Default;
            }
        }
        if (i < n) styles[i++] = S::Default;  // the LF
    }
}

GcodeLexer::GcodeLexer(QObject* parent) : QsciLexerCustom(parent) {}

QString GcodeLexer::description(int style) const {
    switch (style) {
        case Default: return "Default";
        case Comment: return "Comment";
        case BlockNumber: return "Block number";
        case Command: return "G and M word";
        case Address: return "Address";
        case Value: return "Value";
        case Mark: return "Tape and block-delete mark";
        default: return {};
    }
}

QColor GcodeLexer::defaultColor(int style) const {
    switch (style) {
        case Comment: return QColor(0, 128, 0);
        case BlockNumber: return QColor(128, 128, 128);
        case Command: return QColor(0, 0, 192);
        case Address: return QColor(128, 0, 128);
        case Value: return QColor(0, 0, 0);
        case Mark: return QColor(192, 0, 0);
        default: return QColor(0, 0, 0);
    }
}

QFont GcodeLexer::defaultFont(int style) const {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    if (style == Command || style == Mark) font.setBold(true);
    if (style == Comment) font.setItalic(true);
    return font;
}

void GcodeLexer::styleRange(long start, long end) {
    if (end <= start || !editor()) return;
    std::vector<char> text(static_cast<std::size_t>(end - start) + 1);
    editor()->SendScintilla(Sci::SCI_GETTEXTRANGE, start, end, text.data());
    std::vector<char> styles(static_cast<std::size_t>(end - start));
    StyleGcode(std::string_view(text.data(), styles.size()), styles.data());
    editor()->SendScintilla(Sci::SCI_STARTSTYLING, static_cast<unsigned long>(start));
    editor()->SendScintilla(Sci::SCI_SETSTYLINGEX, static_cast<unsigned long>(styles.size()),
                            static_cast<void*>(styles.data()));
}

void GcodeLexer::styleText(int start, int end) {
    if (!editor()) return;
    if (end - start <= kLongRange) {
        styleRange(start, end);
        return;
    }
    long line = editor()->SendScintilla(Sci::SCI_LINEFROMPOSITION, static_cast<unsigned long>(end - kTail));
    long tailStart = editor()->SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    if (tailStart <= start) tailStart = start;
    // The skipped lines keep the styles they have (plain for text never
    // styled) until they come into view.
    m_plain.emplace_back(start, tailStart);
    styleRange(tailStart, end);
}

void GcodeLexer::styleVisibleLines() {
    if (m_plain.empty() || !editor()) return;
    QsciScintilla* sci = editor();
    long first = sci->SendScintilla(Sci::SCI_GETFIRSTVISIBLELINE);
    long count = sci->SendScintilla(Sci::SCI_LINESONSCREEN) + 1;
    long from = sci->SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(first));
    long to = sci->SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(first + count));
    if (to < 0) to = sci->SendScintilla(Sci::SCI_GETLENGTH);
    std::vector<std::pair<long, long>> left;
    for (auto [a, b] : m_plain) {
        long s = std::max(a, from), e = std::min(b, to);
        if (s >= e) {
            left.emplace_back(a, b);
            continue;
        }
        // Lines are styled whole.
        s = sci->SendScintilla(Sci::SCI_POSITIONFROMLINE,
                               static_cast<unsigned long>(sci->SendScintilla(Sci::SCI_LINEFROMPOSITION, static_cast<unsigned long>(s))));
        long endStyled = sci->SendScintilla(Sci::SCI_GETENDSTYLED);
        styleRange(s, e);
        // Restyling here must not make the text area think the text after it
        // is unstyled again.
        if (endStyled > e) {
            sci->SendScintilla(Sci::SCI_STARTSTYLING, static_cast<unsigned long>(endStyled));
        }
        if (a < s) left.emplace_back(a, s);
        if (e < b) left.emplace_back(e, b);
    }
    m_plain.swap(left);
}

}  // namespace fbx::ui
