#include "Search.h"

#include <cstring>

namespace fbx::editor {

std::string SearchWordOf(std::string_view typed) {
    std::string word(typed);
    for (char& c : word) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return word;
}

std::optional<SearchHit> TextSearch::SearchStep(std::string_view text, std::string_view word) {
    const std::size_t from = m_hitPosition > 0 ? m_next : 0;
    std::size_t found = word.empty() || from > text.size() ? std::string_view::npos
                                                           : text.find(word, from);
    if (found == std::string_view::npos) {
        m_hitPosition = 0;
        return std::nullopt;
    }
    m_hitPosition = static_cast<std::int64_t>(found) + 1;
    m_next = found + word.size();

    SearchHit hit;
    hit.hitPosition = m_hitPosition;
    hit.line = 1;
    for (const char *at = text.data(), *end = at + found;
         (at = static_cast<const char*>(std::memchr(at, '\n', end - at))) != nullptr; ++at)
        ++hit.line;

    // Back to the start of the hit's line, then two more lines up.
    std::size_t start = found;
    for (int lines = 0; lines < 3 && start > 0; ) {
        std::size_t lf = text.rfind('\n', start - 1);
        if (lf == std::string_view::npos) {
            start = 0;
            break;
        }
        if (++lines == 3) {
            start = lf + 1;
            break;
        }
        start = lf;
    }
    // Forward to the end of the hit's line, then two more lines down.
    std::size_t end = found;
    for (int lines = 0; lines < 3; ++lines) {
        std::size_t lf = text.find('\n', end);
        if (lf == std::string_view::npos) {
            end = text.size();
            break;
        }
        end = lf + 1;
    }
    hit.context = text.substr(start, end - start);
    return hit;
}

}  // namespace fbx::editor
