#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fbx {

// A processing string "[XX][N][xx xx xx...]": trigger code, shift N (characters
// after the trigger dropped on send), and up to 11 target codes.
struct ProcessingRule {
    long trigger = 0;  // 0: the slot holds no rule
    long shift = 0;
    std::vector<std::string> targets;  // decimal texts as written, at most 11
    int targetCount = 0;

    // The characters the targets stand for. A target that is empty, not a
    // number, 0 or above 255 stands for no character.
    std::string targetText() const;
};

inline constexpr int kRuleSlotCount = 7;
inline constexpr int kMaxTargets = 11;

// Slot order: Replace #1..#5, Stater, Termination. The first slot whose
// trigger equals a character wins.
struct RuleTable {
    std::array<ProcessingRule, kRuleSlotCount> ruleSlots;
    // The precomputed target text of each slot and the slot index per code
    // (-1: no rule), so that matching a character costs one lookup.
    std::array<std::string, kRuleSlotCount> targetTexts;
    std::array<std::int8_t, 256> slotForCode{};

    bool empty() const;
    // The slot whose rule applies to code, or -1.
    int match(std::uint8_t code) const { return slotForCode[code]; }
};

enum class RuleDirection { Send = 1, Receive = 2 };

// Parses one rule text by bracket positions. Never fails: missing brackets fall
// back to position 1, a field with a negative length is empty, an empty or
// non-numeric number reads 0, a negative shift is 0, targets past the 11th are
// ignored.
ProcessingRule ParseRuleText(std::string_view text);

// Reads a number as a decimal reader does: blanks are ignored, reading stops
// at the first character that cannot continue the number, nothing gives 0.
// The integer part is returned, clamped to +-1e9.
long readDecimal(std::string_view text);

// Fills the table from the seven rule texts (slot order). Each pair of ruleSlots
// i < j with the same non-zero trigger is reported to onDuplicate in slot
// order; the answer changes nothing and the first slot wins.
void ParseProcessingRules(const std::array<std::string, kRuleSlotCount>& texts, RuleTable& table,
                          const std::function<void(int, int)>& onDuplicate = {});

struct AppliedRule {
    std::string text;  // the target characters
    long skip = 0;     // the rule's shift (used on send only)
    int targetCount = 0;
};

// The target of the rule that matches code. Targets are returned as written in
// both directions: on send the whole outgoing stream, targets included, is
// translated to EIA exactly once, at the line. Empty when no rule matches.
AppliedRule ApplyRule(const RuleTable& table, std::uint8_t code, RuleDirection direction);

// The send walk: every character that triggers a rule is replaced by the
// rule's target and the rule's shift characters after it are dropped; every
// other character is copied. Linear in the size of the text.
std::string ApplyRulesOnSend(const RuleTable& table, std::string_view fileText);

// The receive application for one received code: appends the target text of
// the matching rule (if any) after the character, which the caller has
// already appended. Nothing is dropped on receive.
void ApplyRuleOnReceive(const RuleTable& table, std::uint8_t code, std::string& received);

}  // namespace fbx
