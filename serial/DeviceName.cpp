#include "DeviceName.h"

namespace fbx {

namespace {

DeviceName invalid(std::string why) {
    DeviceName name;
    name.why = std::move(why);
    return name;
}

}  // namespace

std::string DeviceName::endpoint() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(tcpPort);
}

DeviceName parseDeviceName(std::string_view text) {
    const size_t scheme = text.find("://");
    if (scheme == std::string_view::npos) {
        if (text.empty()) return invalid("no device given");
        DeviceName name;
        name.kind = DeviceKind::Tty;
        name.path = std::string(text);
        return name;
    }
    const std::string_view kind = text.substr(0, scheme);
    DeviceName name;
    if (kind == "rfc2217")
        name.kind = DeviceKind::Rfc2217;
    else if (kind == "tcp")
        name.kind = DeviceKind::RawTcp;
    else
        return invalid("unknown kind of device \"" + std::string(kind) +
                       "://\" (rfc2217:// or tcp://)");

    std::string_view rest = text.substr(scheme + 3);
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return invalid("expected [ADDRESS]:PORT after " + std::string(kind) + "://");
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            return invalid("expected HOST:PORT after " + std::string(kind) + "://");
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return invalid("an IPv6 address goes in brackets: [ADDRESS]:PORT");
    }
    if (host.empty()) return invalid("no host before the port number");
    for (char c : host) {
        if (c == '/' || c == ' ' || c == '@' || c == '\t')
            return invalid("\"" + std::string(host) + "\" is no host name");
    }
    long number = 0;
    for (char c : port) {
        if (c < '0' || c > '9' || number > 65535) {
            number = -1;
            break;
        }
        number = number * 10 + (c - '0');
    }
    if (port.empty() || number < 1 || number > 65535)
        return invalid("\"" + std::string(port) + "\" is no TCP port number (1 to 65535)");
    name.host = std::string(host);
    name.tcpPort = static_cast<int>(number);
    return name;
}

}  // namespace fbx
