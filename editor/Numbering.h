#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Message.h"

namespace fbx::editor {

// N sequence numbers in front of the lines of an NC program.
//
// Text is 8-bit bytes. A line is the piece of text up to and including a line
// feed (LF, 10); the CR (13) in front of the LF stays with its line. A program
// line gets the N word "N", the number in decimal with one leading space, and
// one space: "G00 X0" becomes "N 0 G00 X0", the next "G01 X5" at interval 10
// becomes "N 10 G01 X5". Untouched and using no number:
//   - blank lines: empty or only spaces (32) before the line end (LF, CR LF,
//     or the end of the text), which also covers programs with bare LF lines;
//   - block-delete lines, whose very first character is "/" (" /X1" is a
//     program line and is numbered);
//   - tape marks: a line of only "%", spaces around it allowed (a control
//     takes "%" as the tape's start or end and refuses "N 1 %").
// Every other line is numbered.
//
// After each numbered line the number grows by the interval, which is read
// again for every line (so a change of the setting takes effect at the next
// line); a number above 9999 becomes 0.
//
// The text is worked through in blocks: a block ends at the last LF within the
// next blockSize characters. A line longer than blockSize makes a block of its
// own, and a last line without a line break (a text without any line break
// included) is numbered like the others: no part of the text is ever dropped
// or left unnumbered.

// Characters taken per block.
inline constexpr std::size_t kBlockSize = 200000;
// The highest sequence number; the one after it is 0.
inline constexpr std::int64_t kLastSequenceNumber = 9999;

// The first line whose first non-space character is an upper-case "N": such a
// program already has sequence numbers and is not numbered again. N words
// further in a line ("G01 N5") and a lower-case "n" do not count.
struct NWordCheck {
    bool nLineFound = false;
    // Position, counted from 1, of the line break in front of the offending
    // line (its CR, or the LF when it stands alone); 0 for the first line.
    std::int64_t nLinePosition = 0;
    // The offending line with its line break (to the end of the text when it
    // has none).
    std::string nLineText;
};

NWordCheck CheckForNWords(std::string_view text);

// The box that refuses a numbered program: title "serial", critical icon, OK;
// the text names the position and shows the line.
Message NWordRefusal(const NWordCheck& check);

// The numeric value of the serialInterval setting as a decimal reader takes
// it ("10" is 10, "abc" is 0); a negative value counts as 0.
std::int64_t IntervalValue(std::string_view serialInterval);

// Gives the interval to use for the next line.
using IntervalSource = std::function<std::int64_t()>;

// One numbering run over a text, taken in steps so that a window can return
// to its event loop between them: first the check for N words, then the
// numbering, both a block at a time. The caller keeps the text alive and
// unchanged for the life of the pass.
class NumberingPass {
public:
    enum class Phase { Checking, Numbering, Refused, Done };

    NumberingPass(std::string_view text, IntervalSource interval,
                  std::size_t blockSize = kBlockSize);

    // Does the next piece of work: checks or numbers one block. Returns the
    // phase after it; Refused and Done are final.
    Phase Step();

    // Checks the next block of whole lines for N words. Returns true while
    // text is left to check and nothing was found.
    bool CheckBlock();

    // Numbers the next block and appends it to numberedText(). Returns true
    // while text is left to number. Call only once the check has passed
    // (or when no check is wanted).
    bool NumberBlock();

    Phase phase() const { return m_phase; }
    const NWordCheck& check() const { return m_check; }
    std::int64_t nextNumber() const { return m_nextNumber; }
    // Characters of the text worked through by the current phase.
    std::size_t position() const { return m_position; }
    std::size_t size() const { return m_text.size(); }

    // The numbered text built so far. The caller may move it away or empty
    // it between steps; later blocks are appended to what is left.
    std::string& numberedText() { return m_numberedText; }

private:
    std::size_t BlockEnd() const;
    void NumberLine(std::string_view line);

    std::string_view m_text;
    IntervalSource m_interval;
    std::size_t m_blockSize;
    std::size_t m_position = 0;
    Phase m_phase = Phase::Checking;
    NWordCheck m_check;
    std::int64_t m_nextNumber = 0;
    std::string m_numberedText;
};

// The whole run at once, for the command line and tests: on success
// numberedText holds the numbered program; when refused, check says why and
// numberedText is empty.
struct NumberingResult {
    NWordCheck check;
    std::string numberedText;
    bool refused() const { return check.nLineFound; }
};

NumberingResult NumberProgram(std::string_view text, IntervalSource interval,
                              std::size_t blockSize = kBlockSize);
NumberingResult NumberProgram(std::string_view text, std::int64_t interval,
                              std::size_t blockSize = kBlockSize);

}  // namespace fbx::editor
