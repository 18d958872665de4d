#include "Numbering.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "ProcessingRules.h"

namespace fbx::editor {

namespace {

// The index just past the next LF at or after from, or the end of the text.
std::size_t LineEnd(std::string_view text, std::size_t from) {
    const void* lf = std::memchr(text.data() + from, '\n', text.size() - from);
    return lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1
              : text.size();
}

// Empty or only spaces before the line end (LF, CR LF or none). A CR between
// spaces also counts, as it does after the ends are trimmed of spaces.
bool IsBlank(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    std::size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return true;
    std::size_t last = line.find_last_not_of(' ');
    return first == last && line[first] == '\r';
}

// Only a "%" between spaces: the tape's start or end, which a control
// rejects with a number in front.
bool IsTapeMark(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(' ');
    return first != std::string_view::npos && line.substr(first) == "%";
}

// Looks in the whole lines of text[from, to) for one that starts with "N"
// after optional spaces.
bool FindNLine(std::string_view text, std::size_t from, std::size_t to, NWordCheck& check) {
    std::size_t start = from;
    while (start < to) {
        std::size_t end = LineEnd(text, start);
        std::size_t i = start;
        while (i < end && text[i] == ' ') ++i;
        if (i < end && text[i] == 'N') {
            check.nLineFound = true;
            if (start == 0) {
                check.nLinePosition = 0;
            } else {
                // The LF ends the line before; its CR, when it has one, is the
                // position reported.
                bool crlf = start >= 2 && text[start - 2] == '\r';
                check.nLinePosition = static_cast<std::int64_t>(crlf ? start - 1 : start);
            }
            check.nLineText.assign(text.substr(start, end - start));
            return true;
        }
        start = end;
    }
    return false;
}

}  // namespace

NWordCheck CheckForNWords(std::string_view text) {
    NWordCheck check;
    FindNLine(text, 0, text.size(), check);
    return check;
}

Message NWordRefusal(const NWordCheck& check) {
    Message m;
    m.title = "serial";
    m.icon = Icon::Stop;
    m.buttons = Buttons::Ok;
    m.text = "Beqinning of line N \r\nserial number can't set up\r\nN位於" +
             std::to_string(check.nLinePosition) + "\r\n" + check.nLineText;
    return m;
}

std::int64_t IntervalValue(std::string_view serialInterval) {
    return std::max<std::int64_t>(0, readDecimal(serialInterval));
}

NumberingPass::NumberingPass(std::string_view text, IntervalSource interval,
                             std::size_t blockSize)
    : m_text(text), m_interval(std::move(interval)), m_blockSize(std::max<std::size_t>(1, blockSize)) {}

std::size_t NumberingPass::BlockEnd() const {
    std::size_t limit = std::min(m_text.size(), m_position + m_blockSize);
    std::string_view window = m_text.substr(m_position, limit - m_position);
    std::size_t lastLf = window.rfind('\n');
    if (lastLf != std::string_view::npos) return m_position + lastLf + 1;
    // No LF within the block: either the last line without a line break, or
    // a line longer than a block, which then makes a block of its own.
    if (limit == m_text.size()) return limit;
    return LineEnd(m_text, limit);
}

bool NumberingPass::CheckBlock() {
    if (m_phase != Phase::Checking) return false;
    std::size_t end = BlockEnd();
    if (FindNLine(m_text, m_position, end, m_check)) {
        m_phase = Phase::Refused;
        return false;
    }
    m_position = end;
    if (m_position < m_text.size()) return true;
    m_phase = Phase::Numbering;
    m_position = 0;
    return false;
}

void NumberingPass::NumberLine(std::string_view line) {
    if (line.front() == '/' || IsBlank(line) || IsTapeMark(line)) {
        m_numberedText.append(line);
        return;
    }
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, m_nextNumber);
    (void)ec;
    m_numberedText.append("N ", 2);
    m_numberedText.append(digits, end);
    m_numberedText.push_back(' ');
    m_numberedText.append(line);
    m_nextNumber += std::max<std::int64_t>(0, m_interval ? m_interval() : 0);
    if (m_nextNumber > kLastSequenceNumber) m_nextNumber = 0;
}

bool NumberingPass::NumberBlock() {
    if (m_phase == Phase::Checking) {
        // Numbering without the check: start from the top.
        m_phase = Phase::Numbering;
        m_position = 0;
    }
    if (m_phase != Phase::Numbering) return false;
    std::size_t end = BlockEnd();
    std::string_view block = m_text.substr(0, end);
    std::size_t start = m_position;
    while (start < end) {
        std::size_t lineEnd = LineEnd(block, start);
        NumberLine(m_text.substr(start, lineEnd - start));
        start = lineEnd;
    }
    m_position = end;
    if (m_position < m_text.size()) return true;
    m_phase = Phase::Done;
    return false;
}

NumberingPass::Phase NumberingPass::Step() {
    if (m_phase == Phase::Checking) {
        CheckBlock();
    } else if (m_phase == Phase::Numbering) {
        NumberBlock();
    }
    return m_phase;
}

NumberingResult NumberProgram(std::string_view text, IntervalSource interval,
                              std::size_t blockSize) {
    NumberingPass pass(text, std::move(interval), blockSize);
    // A numbered line grows by "N ", up to four digits and a space.
    pass.numberedText().reserve(text.size() + text.size() / 4 + 16);
    while (pass.Step() == NumberingPass::Phase::Checking) {
    }
    NumberingResult result;
    if (pass.phase() == NumberingPass::Phase::Refused) {
        result.check = pass.check();
        return result;
    }
    while (pass.Step() == NumberingPass::Phase::Numbering) {
    }
    result.numberedText = std::move(pass.numberedText());
    return result;
}

NumberingResult NumberProgram(std::string_view text, std::int64_t interval,
                              std::size_t blockSize) {
    return NumberProgram(text, [interval] { return interval; }, blockSize);
}

}  // namespace fbx::editor
