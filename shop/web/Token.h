#pragma once

#include <string>
#include <string_view>

#include "Status.h"

namespace fbx::shop::web {

// The web side's secret: one token that a browser presents as a cookie and a
// script in an "Authorization: Bearer" header.

inline constexpr std::size_t kMinTokenLength = 32;

// Reads the token from the file's first line (blanks at its ends removed).
// An empty string when it can be used, else why not: the file cannot be
// read, the token is shorter than kMinTokenLength or holds a character
// other than letters, digits and "-._~+/=".
std::string readToken(const std::string& path, std::string& token);

// Writes a new random token of 43 characters to path, readable by its owner
// only (mode 0600). An existing file is left alone and refused.
Status makeTokenFile(const std::string& path);

// Whether given is the token; takes the same time whatever given's
// characters are, so that timing tells nothing about the token.
bool sameToken(std::string_view given, std::string_view token);

}  // namespace fbx::shop::web
