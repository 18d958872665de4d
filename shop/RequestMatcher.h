#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace fbx::shop {

// A machine's `request` pattern: a regular expression (Perl syntax, on the
// program's bytes as they are) with exactly one capturing group, the name of
// the program asked for. Matching is bounded, so that no program text, however
// long or unlucky, keeps the service busy: a match that runs past the bound
// counts as no match.
class RequestMatcher {
public:
    // An empty string when pattern compiles with exactly one group, else why not.
    static std::string check(const std::string& pattern);

    // False (with the reason in error) when the pattern is unfit.
    bool compile(const std::string& pattern, std::string& error);
    bool compiled() const { return m_code != nullptr; }

    // The name captured by the first match in text, or nothing. A group that
    // did not take part in the match gives an empty name.
    std::optional<std::string> match(std::string_view text) const;

    RequestMatcher();
    ~RequestMatcher();
    RequestMatcher(RequestMatcher&&) noexcept;
    RequestMatcher& operator=(RequestMatcher&&) noexcept;

private:
    struct Code;
    std::unique_ptr<Code> m_code;
};

}  // namespace fbx::shop
