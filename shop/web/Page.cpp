#include "Page.h"

#include <cstddef>
#include <string_view>

namespace fbx::shop::web {

extern const unsigned char kPageData[];
extern const std::size_t kPageSize;

namespace {

// Moves the text between open and close out of html, leaving replacement.
std::string takeOut(std::string& html, std::string_view open, std::string_view close,
                    std::string_view replacement) {
    const std::size_t start = html.find(open);
    const std::size_t end = start == std::string::npos ? start : html.find(close, start);
    if (end == std::string::npos) return {};
    std::string inner = html.substr(start + open.size(), end - start - open.size());
    html.replace(start, end + close.size() - start, replacement);
    return inner;
}

}  // namespace

const PageParts& page() {
    static const PageParts parts = [] {
        PageParts p;
        p.html.assign(reinterpret_cast<const char*>(kPageData), kPageSize);
        p.style =
            takeOut(p.html, "<style>", "</style>", "<link rel=\"stylesheet\" href=\"/page.css\">");
        p.script = takeOut(p.html, "<script>", "</script>", "<script src=\"/page.js\"></script>");
        return p;
    }();
    return parts;
}

}  // namespace fbx::shop::web
