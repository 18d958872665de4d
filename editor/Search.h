#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fbx::editor {

// The search word as the search uses it: ASCII letters in upper case, every
// other byte as it is.
std::string SearchWordOf(std::string_view typed);

// What one search step found.
struct SearchHit {
    std::int64_t hitPosition = 0;  // of the hit's first character, counted from 1
    std::int64_t line = 0;         // of the line that holds it, counted from 1
    // From the start of the line two lines above the hit's line (or the start
    // of the text) to the end of the line two lines below it, its line break
    // included (or the end of the text).
    std::string_view context;
};

// The search of the editor's search dialog. Each step looks in the text as
// it is at that moment (the editor's own buffer, edits included), so that a
// hit's position always refers to the text the operator sees. Lines end at LF
// (a CR in front of it belongs to the line). The search is case-sensitive:
// the text is not changed, so an upper-case word only finds upper-case text.
class TextSearch {
public:
    // Finds the next occurrence of word in text: from the start of the text
    // for the first search (or after a miss or Restart), else from the index
    // set by ContinueAt, or right after the previous hit (occurrences never
    // overlap). A miss returns nothing and sets hitPosition to 0, so that the
    // next step starts at the top again. The line of a hit is counted afresh
    // in the text given, in time proportional to the hit's position.
    std::optional<SearchHit> SearchStep(std::string_view text, std::string_view word);

    // The next step starts at the beginning (the word was changed).
    void Restart() { m_hitPosition = 0; }
    // A search under way goes on from this 0-based index of the text (the
    // caret) instead of right after its previous hit.
    void ContinueAt(std::size_t index) { m_next = index; }

    std::int64_t hitPosition() const { return m_hitPosition; }

private:
    std::int64_t m_hitPosition = 0;
    std::size_t m_next = 0;  // where a step goes on after a hit
};

}  // namespace fbx::editor
