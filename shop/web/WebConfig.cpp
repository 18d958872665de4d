#include "WebConfig.h"

#include <arpa/inet.h>
#include <filesystem>
#include <set>

#include "FileIo.h"
#include "ShopConfig.h"
#include "Token.h"

namespace fbx::shop::web {

namespace {

namespace fs = std::filesystem;

std::string absolute(const std::string& path, const std::string& baseDir) {
    if (!path.empty() && path[0] == '/') return fs::path(path).lexically_normal().string();
    return (fs::path(baseDir) / path).lexically_normal().string();
}

// "127.0.0.1:8180", "0.0.0.0:8180", "[::1]:8180", "localhost:8180".
bool readListen(const std::string& text, std::string& address, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size() || text.size() - colon > 6)
        return false;
    std::string host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const int number = std::stoi(digits);
    if (number < 1 || number > 65535) return false;
    unsigned char probe[sizeof(in6_addr)];
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (inet_pton(AF_INET6, host.c_str(), probe) != 1) return false;
    } else if (host == "localhost") {
        host = "127.0.0.1";
    } else if (inet_pton(AF_INET, host.c_str(), probe) != 1) {
        return false;
    }
    address = host;
    port = number;
    return true;
}

}  // namespace

WebConfig readWebSection(const std::vector<std::pair<std::string, std::string>>& keys,
                         const std::string& baseDir, std::vector<ConfigProblem>& problems) {
    WebConfig web;
    bool failed = false;
    auto problem = [&](const std::string& key, const std::string& message) {
        problems.push_back({kWebSection, key, message + " (web side not started)", 0});
        failed = true;
    };
    std::set<std::string> seen;
    for (const auto& [key, value] : keys) {
        if (!seen.insert(key).second) {
            problem(key, "given twice");
        } else if (key == "listen") {
            if (!readListen(value, web.address, web.port))
                problem(key, "'" + value + "' is not ADDRESS:PORT (127.0.0.1:8180, [::1]:8180)");
        } else if (key == "token-file") {
            web.tokenFile = absolute(value, baseDir);
        } else if (key == "open-view") {
            if (value == "yes" || value == "no")
                web.openView = value == "yes";
            else
                problem(key, "'" + value + "' is not yes or no");
        } else if (key == "cert" || key == "key") {
            (key == "cert" ? web.certFile : web.keyFile) = absolute(value, baseDir);
        } else {
            problem(key, "unknown key");
        }
    }
    if (web.tokenFile.empty() || !seen.count("token-file")) {
        problem("token-file", "missing: the file that holds the web side's token");
    } else if (std::string why = readToken(web.tokenFile, web.token); !why.empty()) {
        problem("token-file", why);
    }
    if (web.certFile.empty() != web.keyFile.empty())
        problem(web.certFile.empty() ? "cert" : "key", "cert and key go together");
    for (const std::string* file : {&web.certFile, &web.keyFile}) {
        std::string pem;
        if (!file->empty() && !readWholeFile(*file, pem).isOk())
            problem(file == &web.certFile ? "cert" : "key", *file + " cannot be read");
    }
    web.enabled = !failed;
    return web;
}

}  // namespace fbx::shop::web
