#include "Http.h"

#include <unistd.h>

namespace fbx::shop::web {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <typename Pairs>
const std::string* firstOf(const Pairs& pairs, std::string_view name) {
    for (const auto& [key, value] : pairs) {
        if (key == name) return &value;
    }
    return nullptr;
}

}  // namespace

std::string HttpRequest::arg(std::string_view name) const {
    const std::string* v = firstOf(query, name);
    return v ? *v : std::string();
}

std::string HttpRequest::header(std::string_view name) const {
    const std::string* v = firstOf(headers, name);
    return v ? *v : std::string();
}

bool HttpRequest::hasArg(std::string_view name) const {
    return firstOf(query, name) != nullptr;
}

FileBody::~FileBody() {
    if (fd >= 0) ::close(fd);
}

bool TextBody::take(std::string_view bytes) {
    if (m_text.size() + bytes.size() > m_limit) {
        m_tooLarge = true;
        return false;
    }
    m_text.append(bytes);
    return true;
}

std::string percentDecode(std::string_view text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += plusIsBlank && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> parseForm(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view item = text.substr(0, amp);
        const std::size_t eq = item.find('=');
        if (!item.empty())
            pairs.emplace_back(percentDecode(item.substr(0, eq), true),
                               eq == std::string_view::npos
                                   ? std::string()
                                   : percentDecode(item.substr(eq + 1), true));
        if (amp == std::string_view::npos) break;
        text.remove_prefix(amp + 1);
    }
    return pairs;
}

}  // namespace fbx::shop::web
