#include "RequestMatcher.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace fbx::shop {

namespace {
// Bounds on one match: backtracking steps and nesting depth. A program of
// several megabytes against an ordinary pattern stays far below them.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr std::uint32_t kDepthLimit = 10'000;
}  // namespace

struct RequestMatcher::Code {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    ~Code() {
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }
};

RequestMatcher::RequestMatcher() = default;
RequestMatcher::~RequestMatcher() = default;
RequestMatcher::RequestMatcher(RequestMatcher&&) noexcept = default;
RequestMatcher& RequestMatcher::operator=(RequestMatcher&&) noexcept = default;

std::string RequestMatcher::check(const std::string& pattern) {
    RequestMatcher matcher;
    std::string error;
    matcher.compile(pattern, error);
    return error;
}

bool RequestMatcher::compile(const std::string& pattern, std::string& error) {
    m_code.reset();
    int errorCode = 0;
    PCRE2_SIZE offset = 0;
    // No UTF: program text is 8-bit bytes, and "." matches any byte but LF.
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     0, &errorCode, &offset, nullptr);
    if (!code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(errorCode, message, sizeof message);
        error = "not a regular expression: " + std::string(reinterpret_cast<char*>(message)) +
                " at offset " + std::to_string(offset);
        return false;
    }
    auto holder = std::make_unique<Code>();
    holder->code = code;
    std::uint32_t groups = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
    if (groups != 1) {
        error = "needs exactly one group (...) for the program's name, has " +
                std::to_string(groups);
        return false;
    }
    holder->context = pcre2_match_context_create(nullptr);
    if (!holder->context) {
        error = "out of memory";
        return false;
    }
    pcre2_set_match_limit(holder->context, kMatchLimit);
    pcre2_set_depth_limit(holder->context, kDepthLimit);
    m_code = std::move(holder);
    error.clear();
    return true;
}

std::optional<std::string> RequestMatcher::match(std::string_view text) const {
    if (!m_code) return std::nullopt;
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(m_code->code, nullptr);
    if (!data) return std::nullopt;
    std::optional<std::string> name;
    int rc = pcre2_match(m_code->code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                         0, data, m_code->context);
    if (rc > 0) {
        PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        if (rc > 1 && ovector[2] != PCRE2_UNSET && ovector[3] >= ovector[2])
            name = std::string(text.substr(ovector[2], ovector[3] - ovector[2]));
        else
            name = std::string();
    }
    pcre2_match_data_free(data);
    return name;
}

}  // namespace fbx::shop
