#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace fbx {

// The operator's settings. Every field but sendingEdit is text and is compared
// as exact, case-sensitive text ("ON", "Soft", "Brix", "ISO", "EIA", "NOMAL",
// "Data In/Out", "DNC"). Values are 8-bit text: bytes are kept as they are.
// The member initialisers are the defaults that resetSettings writes.
struct Settings {
    std::string lastFilePath;       // 0: file last chosen for a send or receive
    std::string editorPath;         // 1: outside editor started by Work > Editor
    std::string sendView = "ON";    // 2
    std::string receiveView = "ON"; // 3
    std::string spareSwitch = "OFF";// 4: stored and reloaded unchanged
    std::string port = "1";         // 5
    std::string baudRate = "9600";  // 6
    std::string dataBits = "7";     // 7
    std::string stopBits = "2";     // 8
    std::string parity = "e";       // 9
    std::string handshake = "Soft"; // 10: "Soft" (XON/XOFF) or "Brix" (hardware)
    std::string code = "ISO";       // 11: tape code, "ISO" or "EIA"
    std::string replaceString1;     // 12
    std::string replaceString2;     // 13
    std::string replaceString3;     // 14
    std::string replaceString4;     // 15
    std::string replaceString5;     // 16
    std::string starterString;      // 17
    std::string terminationString;  // 18
    std::string serialInterval = "1";  // 19: step between N sequence numbers
    std::string mode = "NOMAL";     // 20: "NOMAL", "Data In/Out" or "DNC"
    // 21: the configuration path at the time of the save (ignored on read)
    // 22: always empty
    std::int16_t sendingEdit = 0;   // 23: 1 lets the unsent text be edited

    // The seven processing-string texts in rule-slot order: Replace #1..#5,
    // Stater, Termination.
    std::array<std::string, 7> ruleTexts() const {
        return {replaceString1, replaceString2, replaceString3, replaceString4,
                replaceString5, starterString, terminationString};
    }

    bool operator==(const Settings&) const = default;
};

// Number of values in the configuration file.
inline constexpr int kConfigValueCount = 24;

// The numeric port parameters derived from Settings by ProTool; all 0 until
// ProTool has run.
struct SerialCodes {
    std::int32_t portNumber = 0;
    std::int16_t baudCode = 0;
    std::int16_t parityCode = 0;
    std::int16_t dataBitsCode = 0;
    std::int16_t stopBitsCode = 0;

    // The line-mode value handed to the port: data bits | stop bits | parity.
    std::int32_t modeWord() const {
        return static_cast<std::int16_t>(dataBitsCode | stopBitsCode | parityCode);
    }

    bool operator==(const SerialCodes&) const = default;
};

}  // namespace fbx
