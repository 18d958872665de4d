#pragma once

#include <Qsci/qscilexercustom.h>
#include <string_view>

namespace fbx::ui {

// Colours NC program text in the editor: comments, block numbers, G and M
// words, other addresses with their values, and the "%" and "/" marks.
//
// Every line is styled on its own (nothing carries over a line feed), so the
// text area asks only for the lines it shows; a jump to the end of a program
// of hundreds of megabytes leaves the lines jumped over as they are and
// colours them when they come into view (styleVisibleLines).
class GcodeLexer : public QsciLexerCustom {
    Q_OBJECT
public:
    enum Style { Default = 0, Comment, BlockNumber, Command, Address, Value, Mark, StyleCount };

    explicit GcodeLexer(QObject* parent = nullptr);

    const char* language() const override { return "G-code"; }
    QString description(int style) const override;
    QColor defaultColor(int style) const override;
    QFont defaultFont(int style) const override;
    void styleText(int start, int end) override;

    // Colours the newly visible lines that an earlier styleText left plain.
    void styleVisibleLines();

private:
    void styleRange(long start, long end);

    // Stretches a long styleText jumped over, still to be coloured.
    std::vector<std::pair<long, long>> m_plain;
};

// The styles of text, one per byte (Style values), into styles. text is
// taken as starting at the beginning of a line.
void StyleGcode(std::string_view text, char* styles);

}  // namespace fbx::ui
