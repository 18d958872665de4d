#include "MachineOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <type_traits>

namespace fbx::machine {

namespace {

const char* const kUsage =
    "usage: ferobrixlan-machine receive [--link PATH] [options]\n"
    "       ferobrixlan-machine punch FILE [--link PATH] [options]\n"
    "\n"
    "Plays the controller of a machine tool on a pseudo-terminal pair, so that\n"
    "ferobrixlan can send and receive programs without a machine. The PC's side\n"
    "of the line is printed on stdout (and linked at --link PATH); point a port at\n"
    "it, for example FEROBRIXLAN_PORT1=PATH. The PC opening and closing that\n"
    "device is what starts and ends a run.\n"
    "\n"
    "receive   the machine reads a program (the PC sends). It reads at the\n"
    "          emulated baud rate into an input buffer that the controller\n"
    "          empties at the --drain rate; it sends DC3 when the buffer reaches\n"
    "          the high-water mark and DC1 when it has drained to the low-water\n"
    "          mark. Ends when the PC closes the line (after every byte still on\n"
    "          the line has been read) or after --idle.\n"
    "          When the PC overruns a full buffer, where a controller would raise\n"
    "          an alarm, the machine stops reading until there is room again:\n"
    "          no byte is lost, and the round is counted as an overflow.\n"
    "punch     the machine punches FILE (the PC receives). It waits for the PC\n"
    "          to open the line, then --wait seconds, sends the leader and the\n"
    "          program, stops on DC3 and goes on at DC1 from the PC, then waits\n"
    "          for the PC to close the line (or --idle).\n"
    "\n"
    "Common options:\n"
    "  --link PATH          make a symbolic link to the PC's side at PATH (a stale\n"
    "                       link there is replaced; removed again at exit)\n"
    "  --baud N             emulated line speed in bits per second (default: none,\n"
    "                       bytes move as fast as the pseudo-terminal takes them)\n"
    "  --bits N             bits per character for --baud (default 10: 8N1)\n"
    "  --wait SECONDS       after the PC opens the line, wait this long before the\n"
    "                       operator presses the machine's button: punch starts,\n"
    "                       receive sends its start DC1 (default 1)\n"
    "  --idle SECONDS       end after this long in which no byte moved on the\n"
    "                       line (the machine's own DC1 and DC3 not counted) or,\n"
    "                       before the PC opens the line, it did not open it;\n"
    "                       default: never\n"
    "  --pull-after BYTES   pull the cable: close the line after this many bytes\n"
    "                       received (receive) or sent (punch; 0.2 s after the\n"
    "                       last, so that the PC can take what is on its way);\n"
    "                       exit code 3\n"
    "  --stall-after BYTES  stall after this many bytes: receive sends DC3 and\n"
    "                       never DC1 again; punch stops sending; both then stay\n"
    "                       silent until the PC closes the line\n"
    "  --quiet              no narration; the summary is still printed\n"
    "  --help               this text\n"
    "\n"
    "Receive options:\n"
    "  --buffer BYTES       size of the controller's input buffer (default 1024)\n"
    "  --high BYTES         send DC3 when the buffer holds this much\n"
    "                       (default three quarters of the buffer)\n"
    "  --low BYTES          send DC1 when it has drained to this much\n"
    "                       (default a quarter of the buffer)\n"
    "  --drain BYTES_PER_SEC  how fast the controller takes bytes out of the\n"
    "                       buffer (default: at once, so the buffer never fills)\n"
    "  --start-dc1          send DC1 as the start signal once the PC has opened\n"
    "                       the line and --wait has passed (modes \"Data In/Out\"\n"
    "                       and \"DNC\" wait for it), and again whenever the line\n"
    "                       has been quiet for --wait after a program (ended or\n"
    "                       abandoned), as the operator pressing the read key\n"
    "                       again for a re-send\n"
    "  --out FILE           store every byte received in FILE\n"
    "\n"
    "Punch options:\n"
    "  --eia                punch in EIA code: each character through the EIA\n"
    "                       table, CR dropped, LF punched as end of block (0x80)\n"
    "  --leader N           punch N NUL bytes (blank tape) before the program\n"
    "  --chunk BYTES        punch in bursts of this many bytes ...\n"
    "  --pause MS           ... with this many milliseconds between them\n"
    "  --then-punch FILE    after the program, punch FILE too (may be given more\n"
    "                       than once; the programs follow in the order given)\n"
    "  --then-punch-eia FILE  the same, FILE punched in EIA code\n"
    "  --gap SECONDS        pause between two programs (default 1)\n"
    "  --then-receive       after the last program and a --gap, stay on the line\n"
    "                       and read a program as receive does (the receive options apply;\n"
    "                       end it with --idle); a second summary follows the\n"
    "                       punch's, and the exit code is the receive's\n"
    "\n"
    "On exit a summary goes to stderr as key=value lines: role, end (pc-closed,\n"
    "idle, pulled, interrupted, error), bytes-received, dc3-sent, dc1-sent,\n"
    "overrun (bytes the PC put on the line after each DC3 went out, up to its\n"
    "DC1, comma-separated), overrun-max, read-after-dc3 (all bytes read after each\n"
    "DC3 until its DC1), queued-at-dc3 (of those, the ones already waiting on the\n"
    "line when the DC3 went out), overflow, stalled, dwell-blocks (\"G4X0.001\"\n"
    "blocks received), stored (receive); bytes-sent, bytes-to-send, complete, stalled,\n"
    "dc3-received, dc1-received, other-received (punch); crc32 (CRC-32 as zlib's,\n"
    "of the bytes stored or punched), transfer-seconds (first to last byte), exit.\n"
    "On a pseudo-terminal the PC is not slowed by a line speed. A PC writing at\n"
    "memory speed can put hundreds of bytes on the line before a DC3 reaches it\n"
    "(the pty passes bytes on through a kernel work queue); with --baud it runs\n"
    "ahead of the machine into the pty's queue (some 16 KB); read-after-dc3 then\n"
    "includes bytes that were already waiting there when the DC3 went out, as it\n"
    "does when a busy processor holds the machine up. The overrun does not.\n"
    "Likewise a punch without --baud fills that queue, and a DC3 from the PC only\n"
    "holds back what has not been written into it yet.\n"
    "\n"
    "Exit codes: 0 done, 1 bad command line, 2 pty, link or file error,\n"
    "3 line pulled (--pull-after), 4 interrupted by a signal, 5 punch incomplete\n"
    "(the PC closed the line or --idle ran out before the end of the program).\n";

bool toInteger(const std::string& text, long long minimum, long long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < minimum) return false;
    out = v;
    return true;
}

bool toSeconds(const std::string& text, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0) || v > 1e7) return false;
    out = v;
    return true;
}

}  // namespace

const char* MachineUsage() {
    return kUsage;
}

bool ParseMachineOptions(int argc, const char* const* argv, MachineOptions& o, std::string& error) {
    using Setter = std::function<bool(const std::string&)>;
    auto integer = [](auto& field, long long minimum) {
        return Setter([&field, minimum](const std::string& v) {
            long long n = 0;
            if (!toInteger(v, minimum, n)) return false;
            field = static_cast<std::remove_reference_t<decltype(field)>>(n);
            return true;
        });
    };
    auto seconds = [](double& field) {
        return Setter([&field](const std::string& v) { return toSeconds(v, field); });
    };
    auto nextProgram = [&o](bool eia) {
        return Setter([&o, eia](const std::string& v) {
            o.nextPrograms.push_back({v, eia});
            return !v.empty();
        });
    };
    auto text = [](std::string& field) {
        return Setter([&field](const std::string& v) {
            field = v;
            return !v.empty();
        });
    };
    // Options that take a value, with the role they belong to (None: both).
    const std::map<std::string, std::pair<Role, Setter>> valued = {
        {"--link", {Role::None, text(o.link)}},
        {"--baud", {Role::None, integer(o.baud, 1)}},
        {"--bits", {Role::None, integer(o.bitsPerChar, 1)}},
        {"--wait", {Role::None, seconds(o.wait)}},
        {"--idle", {Role::None, seconds(o.idle)}},
        {"--pull-after", {Role::None, integer(o.pullAfter, 0)}},
        {"--stall-after", {Role::None, integer(o.stallAfter, 0)}},
        {"--buffer", {Role::Receive, integer(o.buffer, 1)}},
        {"--high", {Role::Receive, integer(o.high, 1)}},
        {"--low", {Role::Receive, integer(o.low, 0)}},
        {"--drain", {Role::Receive, integer(o.drain, 1)}},
        {"--out", {Role::Receive, text(o.out)}},
        {"--leader", {Role::Punch, integer(o.leader, 0)}},
        {"--chunk", {Role::Punch, integer(o.chunk, 1)}},
        {"--pause", {Role::Punch, integer(o.pauseMs, 0)}},
        {"--then-punch", {Role::Punch, nextProgram(false)}},
        {"--then-punch-eia", {Role::Punch, nextProgram(true)}},
        {"--gap", {Role::Punch, seconds(o.gap)}},
    };
    const std::map<std::string, std::pair<Role, bool*>> flags = {
        {"--quiet", {Role::None, &o.quiet}}, {"--help", {Role::None, &o.help}},
        {"-h", {Role::None, &o.help}},       {"--start-dc1", {Role::Receive, &o.startDc1}},
        {"--eia", {Role::Punch, &o.eia}},   {"--then-receive", {Role::Punch, &o.thenReceive}},
    };

    std::map<std::string, Role> used;  // option -> role it belongs to
    std::string positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        if (auto f = flags.find(name); f != flags.end()) {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            *f->second.second = true;
            used[name] = f->second.first;
        } else if (auto v = valued.find(name); v != valued.end()) {
            if (!inlineValue) {
                if (i + 1 >= argc) {
                    error = name + " needs a value";
                    return false;
                }
                value = argv[++i];
            }
            if (!v->second.second(value)) {
                error = "bad value for " + name + ": '" + value + "'";
                return false;
            }
            used[name] = v->second.first;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (o.role == Role::None && (arg == "receive" || arg == "punch")) {
            o.role = arg == "receive" ? Role::Receive : Role::Punch;
        } else if (positional.empty()) {
            positional = arg;
        } else {
            error = "unexpected argument '" + arg + "'";
            return false;
        }
    }
    if (o.help) return true;
    if (o.role == Role::None) {
        error = positional.empty() ? "say receive or punch" : "unknown role '" + positional + "'";
        return false;
    }
    // A punch that goes on receiving takes the receive options too.
    const bool receives = o.role == Role::Receive || o.thenReceive;
    for (const auto& [name, role] : used) {
        if (role != Role::None && role != o.role && !(role == Role::Receive && receives)) {
            error = name + " belongs to " + (role == Role::Receive ? "receive" : "punch");
            return false;
        }
    }
    if (o.role == Role::Punch) {
        if (positional.empty()) {
            error = "punch needs the program FILE";
            return false;
        }
        o.programFile = positional;
    } else if (!positional.empty()) {
        error = "receive takes no FILE (store with --out FILE)";
        return false;
    }
    if (receives) {
        if (o.high < 0) o.high = std::max(1L, o.buffer * 3 / 4);
        if (o.low < 0) o.low = std::min(o.buffer / 4, o.high - 1);
        if (o.high > o.buffer) {
            error = "--high must not exceed --buffer";
            return false;
        }
        if (o.low >= o.high) {
            error = "--low must be below --high";
            return false;
        }
    }
    if (o.pauseMs > 0 && o.chunk == 0) {
        error = "--pause needs --chunk";
        return false;
    }
    return true;
}

}  // namespace fbx::machine
