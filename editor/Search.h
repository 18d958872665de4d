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

// The search of the editor's search dialog, on a copy of the program text
// taken when the dialog opens: later edits in the editor are not seen, and
// positions refer to the copy. Lines end at LF (a CR in front of it belongs
// to the line). The search is case-sensitive: the text is not changed, so an
// upper-case word only finds upper-case text.
//
// Each step costs time in proportion to the text between the previous hit and
// the new one (the line count is carried along), so stepping through a whole
// program is linear in its size.
class TextSearch {
public:
    explicit TextSearch(std::string searchText = {});

    // Finds the next occurrence of word: from the start of the text for the
    // first search (or after a miss or Restart), else right after the
    // previous hit (occurrences never overlap). A miss returns nothing and
    // sets hitPosition to 0, so that the next step starts at the top again.
    std::optional<SearchHit> SearchStep(std::string_view word);

    // The next step starts at the beginning (the word was changed).
    void Restart() { m_hitPosition = 0; }

    std::int64_t hitPosition() const { return m_hitPosition; }
    const std::string& searchText() const { return m_text; }

private:
    std::int64_t LineOf(std::size_t index);

    std::string m_text;
    std::int64_t m_hitPosition = 0;
    std::size_t m_countedTo = 0;     // LFs are counted in [0, m_countedTo)
    std::int64_t m_linesBefore = 0;  // ... and there are this many
};

}  // namespace fbx::editor
