#include "ProcessingRules.h"

#include <algorithm>

namespace fbx {

namespace {

// 1-based position of the first c at or after 1-based position from, or 0.
long findFrom(std::string_view text, char c, long from) {
    if (from < 1) from = 1;
    if (from > static_cast<long>(text.size())) return 0;
    size_t at = text.find(c, static_cast<size_t>(from - 1));
    return at == std::string_view::npos ? 0 : static_cast<long>(at) + 1;
}

// length characters from 1-based position start; empty when out of range.
std::string_view field(std::string_view text, long start, long length) {
    if (length <= 0 || start < 1 || start > static_cast<long>(text.size())) return {};
    size_t from = static_cast<size_t>(start - 1);
    return text.substr(from, std::min(static_cast<size_t>(length), text.size() - from));
}

int targetCode(const std::string& target) {
    long value = readDecimal(target);
    return value >= 1 && value <= 255 ? static_cast<int>(value) : 0;
}

}  // namespace

long readDecimal(std::string_view text) {
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long value = 0;
    for (;;) {
        skipBlanks();
        if (i >= text.size() || text[i] < '0' || text[i] > '9') break;
        if (value < 1000000000L) value = value * 10 + (text[i] - '0');
        ++i;
    }
    value = std::min(value, 1000000000L);
    return negative ? -value : value;
}

std::string ProcessingRule::targetText() const {
    std::string text;
    for (int i = 0; i < targetCount; ++i) {
        int code = targetCode(targets[static_cast<size_t>(i)]);
        if (code != 0) text += static_cast<char>(code);
    }
    return text;
}

ProcessingRule ParseRuleText(std::string_view text) {
    const long p1 = findFrom(text, '[', 1) + 1;
    const long p2 = findFrom(text, '[', p1) + 1;
    const long p3 = findFrom(text, '[', p2) + 1;
    const long e1 = findFrom(text, ']', p1);
    const long e2 = findFrom(text, ']', p2);
    const long e3 = findFrom(text, ']', p3);

    ProcessingRule rule;
    rule.trigger = readDecimal(field(text, p1, e1 - p1));
    rule.shift = std::max(0L, readDecimal(field(text, p2, e2 - p2)));

    std::string_view targets = field(text, p3, e3 - p3);
    size_t k = 0;
    while (k < targets.size()) {
        size_t s = targets.find(' ', k);
        if (s == std::string_view::npos) s = targets.size();
        if (rule.targetCount < kMaxTargets) {
            rule.targets.emplace_back(targets.substr(k, s - k));
            ++rule.targetCount;
        }
        k = s + 1;
    }
    return rule;
}

bool RuleTable::empty() const {
    return std::all_of(ruleSlots.begin(), ruleSlots.end(),
                       [](const ProcessingRule& r) { return r.trigger == 0; });
}

void ParseProcessingRules(const std::array<std::string, kRuleSlotCount>& texts, RuleTable& table,
                          const std::function<void(int, int)>& onDuplicate) {
    for (int k = 0; k < kRuleSlotCount; ++k) {
        table.ruleSlots[k] = texts[k].empty() ? ProcessingRule{} : ParseRuleText(texts[k]);
        table.targetTexts[k] = table.ruleSlots[k].targetText();
    }
    table.slotForCode.fill(-1);
    for (int k = kRuleSlotCount - 1; k >= 0; --k) {
        long trigger = table.ruleSlots[k].trigger;
        if (trigger >= 1 && trigger <= 255) table.slotForCode[trigger] = static_cast<std::int8_t>(k);
    }
    if (!onDuplicate) return;
    for (int i = 0; i < kRuleSlotCount; ++i) {
        for (int j = i + 1; j < kRuleSlotCount; ++j) {
            long a = table.ruleSlots[i].trigger, b = table.ruleSlots[j].trigger;
            if (a != 0 && a == b) onDuplicate(i, j);
        }
    }
}

AppliedRule ApplyRule(const RuleTable& table, std::uint8_t code, RuleDirection) {
    AppliedRule applied;
    int slot = table.match(code);
    if (slot < 0) return applied;
    applied.text = table.targetTexts[slot];
    applied.skip = table.ruleSlots[slot].shift;
    applied.targetCount = table.ruleSlots[slot].targetCount;
    return applied;
}

std::string ApplyRulesOnSend(const RuleTable& table, std::string_view fileText) {
    if (table.empty()) return std::string(fileText);
    std::string out;
    out.reserve(fileText.size());
    const size_t length = fileText.size();
    size_t pos = 0;
    while (pos < length) {
        // Copy the run of characters that trigger nothing in one piece.
        size_t run = pos;
        while (run < length && table.match(static_cast<std::uint8_t>(fileText[run])) < 0) ++run;
        out.append(fileText.substr(pos, run - pos));
        if (run >= length) break;
        int slot = table.match(static_cast<std::uint8_t>(fileText[run]));
        out += table.targetTexts[slot];
        long skip = table.ruleSlots[slot].shift;
        pos = run + 1;
        pos = static_cast<size_t>(skip) >= length - pos ? length : pos + static_cast<size_t>(skip);
    }
    return out;
}

void ApplyRuleOnReceive(const RuleTable& table, std::uint8_t code, std::string& received) {
    int slot = table.match(code);
    if (slot >= 0) received += table.targetTexts[slot];
}

}  // namespace fbx
