#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fbx::editor {

// Two programs compared block by block as a control sees them, so that what
// the control changes on its own is no difference: sequence numbers (an N
// word at the start of a block), blanks, line ends (CR LF, LF or CR alone),
// the leader and other control bytes, empty blocks, and letter case. What is
// left is what someone changed: "what did the operator change at the
// machine".

// A block as the comparison sees it: upper case, without blanks and control
// bytes, without a leading sequence number ("N120", also behind a "/" block
// skip). Empty when the block holds nothing else.
std::string ComparableBlock(std::string_view line);

// One line of a program as written (its line end removed), with its number
// in the program, counted from 1.
struct NumberedLine {
    std::int64_t number = 0;
    std::string text;
};

// One place where the programs differ: the blocks of the first program that
// are gone (removed) and those of the second that stand in their place
// (added). One of the two may be empty. atA and atB are the line numbers
// where the change stands in each program (for an empty side: the line the
// change comes before, or one past the last line).
struct ChangedBlock {
    std::int64_t atA = 0;
    std::int64_t atB = 0;
    std::vector<NumberedLine> removed;
    std::vector<NumberedLine> added;
};

struct ProgramComparison {
    std::vector<ChangedBlock> changes;  // in program order; empty: the same
    bool same() const { return changes.empty(); }
};

// Compares the programs a (the original, e.g. the library's) and b (e.g.
// the one the machine punched back). Time grows with the programs' length
// times the number of blocks added and removed, memory with the square of
// that number; past maxEdits of them, the part between the first and the last
// difference is given as one change.
inline constexpr std::int64_t kMaxEdits = 2000;
ProgramComparison ComparePrograms(std::string_view a, std::string_view b,
                                  std::int64_t maxEdits = kMaxEdits);

// The first change in one line, naming its block: "line 12: N120 G01 X12.
// became N120 G01 X10." (or "... added" / "... removed"); empty when the
// programs are the same.
std::string DescribeFirstChange(const ProgramComparison& comparison);

}  // namespace fbx::editor
