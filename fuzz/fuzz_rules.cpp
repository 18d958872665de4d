// Feeds arbitrary bytes to the processing-string parser and to the send and
// receive application of the rule table.
//
// The input is split at line feeds into at most eight pieces: every piece but
// the last is a rule text (slots Replace #1..#5, Stater, Termination, in that
// order), the last piece is the program text that is sent and received. With
// seven or more line feeds the eighth piece holds the rest, line feeds and all.
//
// What must hold for any input:
//   - a rule has at most 11 targets and targetCount says how many; shift is
//     not negative; every target is a piece of the rule text without blanks;
//   - a rule written back as "[trigger][shift][targets]" parses to the same
//     trigger, shift and target characters;
//   - the table maps a code to the first slot whose trigger is that code;
//     codes 0 and triggers outside 1..255 never match; duplicates are
//     reported pair by pair in slot order; re-filling a used table gives the
//     same table as a fresh one;
//   - the send walk equals a walk done character by character, and its
//     output is at most 11 characters per input character;
//   - on receive every input byte is kept, in order, each followed by the
//     target text of its rule, so the input is a subsequence of the result.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "ProcessingRules.h"

namespace {

using fbx::kMaxTargets;
using fbx::kRuleSlotCount;

constexpr const char* kFuzzTarget = "fuzz_rules";

constexpr long kNumberLimit = 1000000000L;

bool sameRule(const fbx::ProcessingRule& a, const fbx::ProcessingRule& b) {
    return a.trigger == b.trigger && a.shift == b.shift && a.targets == b.targets &&
           a.targetCount == b.targetCount;
}

void checkRule(std::string_view text, const fbx::ProcessingRule& rule) {
    CHECK(rule.targetCount >= 0 && rule.targetCount <= kMaxTargets);
    CHECK(rule.targets.size() == static_cast<size_t>(rule.targetCount));
    CHECK(rule.shift >= 0 && rule.shift <= kNumberLimit);
    CHECK(rule.trigger >= -kNumberLimit && rule.trigger <= kNumberLimit);
    if (text.empty()) CHECK(rule.trigger == 0 && rule.shift == 0 && rule.targetCount == 0);

    for (const std::string& target : rule.targets) {
        CHECK(target.find(' ') == std::string::npos);
        CHECK(text.find(target) != std::string_view::npos);
    }
    const std::string characters = rule.targetText();
    CHECK(characters.size() <= static_cast<size_t>(rule.targetCount));
    CHECK(characters.find('\0') == std::string::npos);

    CHECK(sameRule(fbx::ParseRuleText(text), rule));

    // Written back in the canonical form, the rule reads the same.
    std::string canonical =
        "[" + std::to_string(rule.trigger) + "][" + std::to_string(rule.shift) + "][";
    for (int i = 0; i < rule.targetCount; ++i) {
        if (i > 0) canonical += ' ';
        canonical += rule.targets[static_cast<size_t>(i)];
    }
    canonical += "]";
    const fbx::ProcessingRule again = fbx::ParseRuleText(canonical);
    CHECK(again.trigger == rule.trigger);
    CHECK(again.shift == rule.shift);
    CHECK(again.targetText() == characters);
}

void checkTable(const std::array<std::string, kRuleSlotCount>& texts, const fbx::RuleTable& table,
                const std::vector<std::pair<int, int>>& duplicates) {
    bool empty = true;
    for (int k = 0; k < kRuleSlotCount; ++k) {
        const fbx::ProcessingRule& slot = table.ruleSlots[k];
        if (texts[k].empty()) {
            CHECK(sameRule(slot, fbx::ProcessingRule{}));
        } else {
            CHECK(sameRule(slot, fbx::ParseRuleText(texts[k])));
        }
        CHECK(table.targetTexts[k] == slot.targetText());
        empty = empty && slot.trigger == 0;
    }
    CHECK(table.empty() == empty);

    for (int code = 0; code < 256; ++code) {
        int expected = -1;
        for (int k = 0; k < kRuleSlotCount && code != 0; ++k) {
            if (table.ruleSlots[k].trigger == code) {
                expected = k;
                break;
            }
        }
        CHECK(table.match(static_cast<std::uint8_t>(code)) == expected);

        for (auto direction : {fbx::RuleDirection::Send, fbx::RuleDirection::Receive}) {
            const fbx::AppliedRule applied =
                fbx::ApplyRule(table, static_cast<std::uint8_t>(code), direction);
            if (expected < 0) {
                CHECK(applied.text.empty() && applied.skip == 0 && applied.targetCount == 0);
            } else {
                CHECK(applied.text == table.targetTexts[expected]);
                CHECK(applied.skip == table.ruleSlots[expected].shift);
                CHECK(applied.targetCount == table.ruleSlots[expected].targetCount);
            }
        }
    }

    std::vector<std::pair<int, int>> expected;
    for (int i = 0; i < kRuleSlotCount; ++i) {
        for (int j = i + 1; j < kRuleSlotCount; ++j) {
            long a = table.ruleSlots[i].trigger;
            if (a != 0 && a == table.ruleSlots[j].trigger) expected.emplace_back(i, j);
        }
    }
    CHECK(duplicates == expected);
}

bool sameTable(const fbx::RuleTable& a, const fbx::RuleTable& b) {
    for (int k = 0; k < kRuleSlotCount; ++k) {
        if (!sameRule(a.ruleSlots[k], b.ruleSlots[k]) || a.targetTexts[k] != b.targetTexts[k])
            return false;
    }
    return a.slotForCode == b.slotForCode;
}

// The send walk one character at a time.
std::string sendByCharacter(const fbx::RuleTable& table, std::string_view text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        int slot = table.match(static_cast<std::uint8_t>(text[pos]));
        ++pos;
        if (slot < 0) {
            out += text[pos - 1];
            continue;
        }
        out += table.targetTexts[slot];
        const size_t rest = text.size() - pos;
        const auto shift = static_cast<size_t>(table.ruleSlots[slot].shift);
        pos += shift < rest ? shift : rest;
    }
    return out;
}

void checkSend(const fbx::RuleTable& table, std::string_view text) {
    const std::string sent = fbx::ApplyRulesOnSend(table, text);
    CHECK(sent.size() <= text.size() * kMaxTargets);
    if (table.empty()) CHECK(sent == text);
    CHECK(sent == sendByCharacter(table, text));
}

void checkReceive(const fbx::RuleTable& table, std::string_view text) {
    std::string received;
    for (char c : text) {
        received += c;
        const size_t before = received.size();
        fbx::ApplyRuleOnReceive(table, static_cast<std::uint8_t>(c), received);
        const int slot = table.match(static_cast<std::uint8_t>(c));
        const std::string_view added = std::string_view(received).substr(before);
        CHECK(added == (slot < 0 ? std::string_view() : std::string_view(table.targetTexts[slot])));
    }
    CHECK(received.size() <= text.size() * (kMaxTargets + 1));

    // No input byte is dropped: the input is a subsequence of what was kept.
    size_t next = 0;
    for (char c : received) {
        if (next < text.size() && c == text[next]) ++next;
    }
    CHECK(next == text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    std::array<std::string, kRuleSlotCount> texts;
    int slots = 0;
    while (slots < kRuleSlotCount) {
        size_t lineEnd = input.find('\n');
        if (lineEnd == std::string_view::npos) break;
        texts[slots++] = std::string(input.substr(0, lineEnd));
        input.remove_prefix(lineEnd + 1);
    }
    const std::string_view text = input;

    for (const std::string& ruleText : texts) checkRule(ruleText, fbx::ParseRuleText(ruleText));

    fbx::RuleTable table;
    std::vector<std::pair<int, int>> duplicates;
    fbx::ParseProcessingRules(texts, table, [&](int i, int j) { duplicates.emplace_back(i, j); });
    checkTable(texts, table, duplicates);

    // A table that held other rules before (the slots keep their contents
    // between transfers) must end up the same as a fresh one.
    fbx::RuleTable reused;
    std::array<std::string, kRuleSlotCount> others;
    for (int k = 0; k < kRuleSlotCount; ++k) {
        others[k] = texts[(k + 1) % kRuleSlotCount];
        if (others[k].empty()) others[k] = "[" + std::to_string(k + 40) + "][1][65 66]";
    }
    fbx::ParseProcessingRules(others, reused);
    fbx::ParseProcessingRules(texts, reused);
    CHECK(sameTable(table, reused));

    checkSend(table, text);
    checkReceive(table, text);
    return 0;
}
