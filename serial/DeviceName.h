#pragma once

#include <string>
#include <string_view>

namespace fbx {

// What a port number can map to: a terminal device on this machine, or a line
// of a serial device server reached over TCP, either with the Telnet COM port
// control ("rfc2217://HOST:PORT") or as raw bytes ("tcp://HOST:PORT").
enum class DeviceKind { Invalid, Tty, Rfc2217, RawTcp };

struct DeviceName {
    DeviceKind kind = DeviceKind::Invalid;
    std::string path;  // Tty: the device path
    std::string host;  // network: a name, an IPv4 address or an IPv6 address (without brackets)
    int tcpPort = 0;   // network: 1..65535
    std::string why;   // Invalid: what is wrong, for the operator

    bool isNetwork() const { return kind == DeviceKind::Rfc2217 || kind == DeviceKind::RawTcp; }
    // "HOST:PORT" ("[::1]:PORT" for IPv6), for messages.
    std::string endpoint() const;
};

// Reads a device string. Anything without "://" is a device path (it must not
// be empty); "rfc2217://" and "tcp://" take HOST:PORT with a port number of
// 1..65535 and nothing after it; any other scheme is invalid.
DeviceName parseDeviceName(std::string_view text);

}  // namespace fbx
