#include "ProgramCompare.h"

#include <unordered_map>

namespace fbx::editor {

namespace {

// The blocks that count, each with an id that equal comparable blocks share.
struct Blocks {
    std::vector<int> ids;
    std::vector<NumberedLine> lines;
    std::int64_t lineCount = 0;
};

Blocks SplitBlocks(std::string_view text, std::unordered_map<std::string, int>& idOf) {
    Blocks blocks;
    std::size_t start = 0;
    std::int64_t number = 0;
    while (start < text.size()) {
        // A line ends at LF, at CR LF, or at a CR alone.
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::size_t next = end;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        ++number;
        const std::string_view line = text.substr(start, end - start);
        std::string key = ComparableBlock(line);
        if (!key.empty()) {
            auto [it, fresh] = idOf.emplace(std::move(key), static_cast<int>(idOf.size()));
            blocks.ids.push_back(it->second);
            blocks.lines.push_back({number, std::string(line)});
        }
        start = next;
    }
    blocks.lineCount = number;
    return blocks;
}

enum class Op { Same, Removed, Added };

// The shortest edit script from a[0, n) to b[0, m) (Myers' algorithm), or
// false when it needs more than maxEdits edits.
bool ShortestEdits(const int* a, std::int64_t n, const int* b, std::int64_t m,
                   std::int64_t maxEdits, std::vector<Op>& ops) {
    const std::int64_t most = std::min(n + m, maxEdits);
    std::vector<std::int64_t> v(static_cast<std::size_t>(2 * most + 3), 0);
    const std::int64_t offset = most + 1;
    // trace[d] holds v[-d..d] after step d.
    std::vector<std::vector<std::int64_t>> trace;
    std::int64_t found = -1;
    for (std::int64_t d = 0; d <= most && found < 0; ++d) {
        for (std::int64_t k = -d; k <= d; k += 2) {
            std::int64_t x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                                 ? v[offset + k + 1]
                                 : v[offset + k - 1] + 1;
            std::int64_t y = x - k;
            while (x < n && y < m && a[x] == b[y]) ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) found = d;
        }
        trace.emplace_back(v.begin() + offset - d, v.begin() + offset + d + 1);
    }
    if (found < 0) return false;

    std::vector<Op> backwards;
    std::int64_t x = n, y = m;
    for (std::int64_t d = found; d > 0; --d) {
        const std::vector<std::int64_t>& before = trace[static_cast<std::size_t>(d - 1)];
        auto at = [&](std::int64_t k) { return before[static_cast<std::size_t>(k + d - 1)]; };
        const std::int64_t k = x - y;
        const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
        const std::int64_t prevK = down ? k + 1 : k - 1;
        const std::int64_t prevX = at(prevK);
        const std::int64_t prevY = prevX - prevK;
        const std::int64_t snakeX = down ? prevX : prevX + 1;
        for (; x > snakeX; --x, --y) backwards.push_back(Op::Same);
        backwards.push_back(down ? Op::Added : Op::Removed);
        x = prevX;
        y = prevY;
    }
    for (; x > 0; --x) backwards.push_back(Op::Same);
    ops.assign(backwards.rbegin(), backwards.rend());
    return true;
}

}  // namespace

std::string ComparableBlock(std::string_view line) {
    std::string block;
    for (char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (c == ' ' || c == '\t' || b < 0x20 || b == 0x7F) continue;
        block += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const std::size_t n = block.size() > 0 && block[0] == '/' ? 1 : 0;
    if (n < block.size() && block[n] == 'N') {
        std::size_t end = n + 1;
        while (end < block.size() && block[end] >= '0' && block[end] <= '9') ++end;
        if (end > n + 1) block.erase(n, end - n);
    }
    return block == "/" ? std::string() : block;
}

ProgramComparison ComparePrograms(std::string_view a, std::string_view b, std::int64_t maxEdits) {
    std::unordered_map<std::string, int> idOf;
    const Blocks left = SplitBlocks(a, idOf), right = SplitBlocks(b, idOf);
    const auto n = static_cast<std::int64_t>(left.ids.size());
    const auto m = static_cast<std::int64_t>(right.ids.size());

    // Most of two versions of a program is the same at both ends.
    std::int64_t head = 0;
    while (head < n && head < m && left.ids[head] == right.ids[head]) ++head;
    std::int64_t tail = 0;
    while (tail < n - head && tail < m - head && left.ids[n - 1 - tail] == right.ids[m - 1 - tail])
        ++tail;

    std::vector<Op> ops(static_cast<std::size_t>(head), Op::Same);
    std::vector<Op> middle;
    if (!ShortestEdits(left.ids.data() + head, n - head - tail, right.ids.data() + head,
                       m - head - tail, maxEdits, middle)) {
        middle.assign(static_cast<std::size_t>(n - head - tail), Op::Removed);
        middle.insert(middle.end(), static_cast<std::size_t>(m - head - tail), Op::Added);
    }
    ops.insert(ops.end(), middle.begin(), middle.end());
    ops.insert(ops.end(), static_cast<std::size_t>(tail), Op::Same);

    ProgramComparison result;
    std::size_t i = 0, j = 0;
    bool open = false;
    for (Op op : ops) {
        if (op == Op::Same) {
            open = false;
            ++i, ++j;
            continue;
        }
        if (!open) {
            ChangedBlock change;
            change.atA = i < left.lines.size() ? left.lines[i].number : left.lineCount + 1;
            change.atB = j < right.lines.size() ? right.lines[j].number : right.lineCount + 1;
            result.changes.push_back(std::move(change));
            open = true;
        }
        if (op == Op::Removed)
            result.changes.back().removed.push_back(left.lines[i++]);
        else
            result.changes.back().added.push_back(right.lines[j++]);
    }
    return result;
}

std::string DescribeFirstChange(const ProgramComparison& comparison) {
    if (comparison.same()) return {};
    const ChangedBlock& c = comparison.changes.front();
    if (c.removed.empty())
        return "line " + std::to_string(c.added.front().number) + ": " + c.added.front().text +
               " added";
    if (c.added.empty())
        return "line " + std::to_string(c.removed.front().number) + ": " + c.removed.front().text +
               " removed";
    return "line " + std::to_string(c.added.front().number) + ": " + c.removed.front().text +
           " became " + c.added.front().text;
}

}  // namespace fbx::editor
