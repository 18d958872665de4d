#include "Token.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#include <cerrno>

#include "FileIo.h"

namespace fbx::shop::web {

namespace {
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kTokenCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~+/=";
}  // namespace

std::string readToken(const std::string& path, std::string& token) {
    std::string text;
    if (Status st = readWholeFile(path, text); !st.isOk()) return st.message();
    text = text.substr(0, text.find('\n'));
    const std::size_t first = text.find_first_not_of(" \t\r");
    const std::size_t last = text.find_last_not_of(" \t\r");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (text.size() < kMinTokenLength)
        return path + ": the token is shorter than " + std::to_string(kMinTokenLength) +
               " characters (ferobrixlan-server --make-token PATH writes one)";
    if (text.find_first_not_of(kTokenCharacters) != std::string::npos)
        return path + ": the token may hold only letters, digits and -._~+/=";
    token = text;
    return {};
}

Status makeTokenFile(const std::string& path) {
    unsigned char random[43];
    std::size_t got = 0;
    while (got < sizeof random) {
        const ssize_t n = getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno != EINTR)
            return Status::fileError("no random bytes: " + describeErrno(path, errno));
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    std::string token;
    for (unsigned char b : random) token += kAlphabet[b % kAlphabet.size()];
    token += '\n';
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Status::fileError(describeErrno(path, errno));
    int err = 0;
    const bool written = writeAll(fd, token, err) == token.size() && fsync(fd) == 0;
    if (!written && !err) err = errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        return Status::fileError(describeErrno(path, err));
    }
    return Status::ok();
}

bool sameToken(std::string_view given, std::string_view token) {
    unsigned difference = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i]) ^
                      static_cast<unsigned char>(token.empty() ? 0 : token[i % token.size()]);
    return difference == 0 && !token.empty();
}

}  // namespace fbx::shop::web
