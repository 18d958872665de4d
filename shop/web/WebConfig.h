#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fbx::shop {
struct ConfigProblem;
}

namespace fbx::shop::web {

// The [web] section of shop.ini. Without it the service has no web side.
struct WebConfig {
    bool enabled = false;               // the section is there and fit to start
    std::string address = "127.0.0.1";  // listen = ADDRESS:PORT
    int port = 8180;
    std::string tokenFile;          // token-file, absolute
    std::string token;              // what it holds
    bool openView = false;          // open-view = yes: looking needs no token
    std::string certFile, keyFile;  // cert, key: HTTPS with both

    bool operator==(const WebConfig&) const = default;
};

inline constexpr const char* kWebSection = "web";

// Reads the [web] section's keys (in lower case, values as written, in the
// order given). Each problem goes to problems under the section "web", and
// the web side is then not started (enabled stays false); the machines are
// not concerned. The token file is read here: it must hold a token of at
// least kMinTokenLength characters.
WebConfig readWebSection(const std::vector<std::pair<std::string, std::string>>& keys,
                         const std::string& baseDir, std::vector<ConfigProblem>& problems);

}  // namespace fbx::shop::web
