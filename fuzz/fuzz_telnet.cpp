// Feeds arbitrary bytes, as a serial device server might send them, to the
// Telnet decoder and the RFC 2217 client session.
//
// The first byte chooses where the input is cut into pieces (a connection
// delivers a stream in pieces of any size); the rest is the stream.
//
// What must hold for any input:
//   - the decoder gives the same data and commands as a plain reference
//     reading of the whole stream, however the stream is cut, and no
//     subnegotiation keeps more than kMaxSubnegotiation bytes;
//   - the session ends in the same state, with the same data and the same
//     replies, however the stream is cut;
//   - every reply is a WILL/WONT/DO/DONT for an option the server named, at
//     most one per request, so two peers can never talk each other into a
//     loop;
//   - data encoded by the session reads back unchanged, and a COM port
//     command's value reads back from its subnegotiation.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "Rfc2217Session.h"
#include "TelnetDecoder.h"

namespace {

using namespace fbx::telnet;

constexpr const char* kFuzzTarget = "fuzz_telnet";

struct Reading {
    std::string data;
    std::vector<Command> commands;
};

bool sameCommands(const std::vector<Command>& a, const std::vector<Command>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].verb != b[i].verb || a[i].option != b[i].option || a[i].payload != b[i].payload ||
            a[i].cut != b[i].cut)
            return false;
    }
    return true;
}

// The stream read whole, by looking ahead, in binary mode. An incomplete
// sequence at the end is left unread.
Reading reference(std::string_view s) {
    Reading r;
    const auto at = [&](size_t i) { return static_cast<std::uint8_t>(s[i]); };
    size_t i = 0;
    while (i < s.size()) {
        if (at(i) != IAC) {
            r.data.push_back(s[i++]);
            continue;
        }
        if (i + 1 >= s.size()) break;
        const std::uint8_t c = at(i + 1);
        if (c == IAC) {
            r.data.push_back(s[i]);
            i += 2;
        } else if (c >= WILL) {
            if (i + 2 >= s.size()) break;
            r.commands.push_back(Command{c, at(i + 2), {}, false});
            i += 3;
        } else if (c == SB) {
            if (i + 2 >= s.size()) break;
            Command sb{SB, at(i + 2), {}, false};
            size_t j = i + 3;
            bool complete = false;
            while (j < s.size()) {
                if (at(j) != IAC) {
                    if (sb.payload.size() < Decoder::kMaxSubnegotiation)
                        sb.payload.push_back(s[j]);
                    else
                        sb.cut = true;
                    ++j;
                    continue;
                }
                if (j + 1 >= s.size()) break;
                if (at(j + 1) == IAC) {
                    if (sb.payload.size() < Decoder::kMaxSubnegotiation)
                        sb.payload.push_back(s[j]);
                    else
                        sb.cut = true;
                    j += 2;
                    continue;
                }
                complete = true;
                if (at(j + 1) == SE) {
                    j += 2;
                } else {
                    sb.cut = true;  // ended by the command at j
                }
                break;
            }
            if (!complete) break;
            r.commands.push_back(sb);
            i = j;
        } else {
            if (c != SE) r.commands.push_back(Command{c, 0, {}, false});
            i += 2;
        }
    }
    return r;
}

std::vector<std::string_view> pieces(std::string_view s, std::uint8_t seed) {
    std::vector<std::string_view> out;
    size_t size = seed % 7 + 1;
    while (!s.empty()) {
        const size_t n = std::min(size, s.size());
        out.push_back(s.substr(0, n));
        s.remove_prefix(n);
        size = (size * 5 + seed) % 13 + 1;
    }
    return out;
}

struct SessionResult {
    std::string data;
    std::string replies;
    fbx::Rfc2217Session session;
};

void checkDecoder(std::string_view stream, std::uint8_t seed) {
    const Reading expected = reference(stream);
    for (bool cut : {false, true}) {
        Decoder d;
        d.setBinaryInput(true);
        Reading got;
        if (cut) {
            for (std::string_view p : pieces(stream, seed)) d.feed(p, got.data, got.commands);
        } else {
            d.feed(stream, got.data, got.commands);
        }
        CHECK(got.data == expected.data);
        CHECK(sameCommands(got.commands, expected.commands));
        for (const Command& c : got.commands)
            CHECK(c.payload.size() <= Decoder::kMaxSubnegotiation);
    }
}

void checkReplies(std::string_view stream, const std::string& replies) {
    // Requests in the stream, read in the session's own text mode or not:
    // count the negotiation commands in both readings and take the larger.
    size_t requests = 0;
    for (bool binary : {false, true}) {
        Decoder d;
        d.setBinaryInput(binary);
        std::string data;
        std::vector<Command> commands;
        d.feed(stream, data, commands);
        size_t n = 0;
        for (const Command& c : commands) n += c.verb >= WILL;
        requests = std::max(requests, n);
    }
    Decoder d;
    std::string data;
    std::vector<Command> commands;
    d.feed(replies, data, commands);
    CHECK(data.empty());
    CHECK(replies.size() == commands.size() * 3);
    CHECK(commands.size() <= requests);
    for (const Command& c : commands) CHECK(c.verb >= WILL);
}

void checkSession(std::string_view stream, std::uint8_t seed) {
    SessionResult whole, cut;
    std::string start;
    whole.session.start(start);
    cut.session.start(start);
    whole.session.receive(stream, whole.data, whole.replies);
    for (std::string_view p : pieces(stream, seed)) cut.session.receive(p, cut.data, cut.replies);

    CHECK(whole.data == cut.data);
    CHECK(whole.replies == cut.replies);
    const auto& a = whole.session;
    const auto& b = cut.session;
    CHECK(a.comPort() == b.comPort());
    CHECK(a.binaryToServer() == b.binaryToServer());
    CHECK(a.binaryFromServer() == b.binaryFromServer());
    CHECK(a.answers().baudRate == b.answers().baudRate);
    CHECK(a.answers().dataSize == b.answers().dataSize);
    CHECK(a.answers().parity == b.answers().parity);
    CHECK(a.answers().stopSize == b.answers().stopSize);
    CHECK(a.answers().control == b.answers().control);
    CHECK(a.modemState() == b.modemState());
    CHECK(a.suspended() == b.suspended());
    CHECK(whole.data.size() <= stream.size());
    checkReplies(stream, whole.replies);

    // Data the session encodes reads back unchanged on the server's side.
    std::string encoded;
    for (char c : stream.substr(0, 512)) a.appendData(static_cast<std::uint8_t>(c), encoded);
    Decoder server;
    server.setBinaryInput(a.binaryToServer());
    std::string back;
    std::vector<Command> none;
    server.feed(encoded, back, none);
    CHECK(none.empty());
    CHECK(back == stream.substr(0, 512));

    // A command's value reads back from its subnegotiation.
    const std::string_view value = stream.substr(0, Decoder::kMaxSubnegotiation - 1);
    std::string command;
    fbx::Rfc2217Session::appendCommand(fbx::Rfc2217Session::kSetBaudRate, value, command);
    std::vector<Command> commands;
    server.feed(command, back, commands);
    CHECK(commands.size() == 1);
    CHECK(commands[0].option == kComPortOption && !commands[0].cut);
    CHECK(commands[0].payload == std::string(1, '\x01') + std::string(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t seed = data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    checkDecoder(stream, seed);
    checkSession(stream, seed);
    return 0;
}
