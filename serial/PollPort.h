#pragma once

#include <cstdint>
#include <string>

#include "SerialPort.h"
#include "Settings.h"

namespace fbx {

// The handshake state that the send side keeps from what the machine says.
struct PollState {
    int xoffHold = 0;     // DC3 received: no data byte may go out until DC1
    int startSignal = 0;  // DC1 received (or sending begun)
    int lineHold = 0;     // "Brix" and DSR off: no data byte may go out
    std::uint8_t lastByteRead = 0;
};

inline constexpr std::uint8_t kDC1 = 17;
inline constexpr std::uint8_t kDC3 = 19;

// One non-blocking look at the port: reads up to 512 bytes; DC3 sets
// xoffHold, DC1 clears it and sets startSignal, every other byte is dropped.
// With brix set the DSR line is read too (off: lineHold 1). Returns the count
// of bytes read, or SIO_PORTLOST.
int PollPort(SerialPort& port, int portNumber, bool brix, PollState& state);

// Why openPort failed.
enum class OpenFailure { None, PortError, SettingError };

// The opening sequence: open, DTR and RTS on, line parameters, no flow
// control. On PortError the port has been closed again; on SettingError it is
// still open (the caller's close step closes it). refuseLine makes the line
// parameters fail without being set (the settings hold a value that has no
// code).
OpenFailure openPort(SerialPort& port, const SerialCodes& codes, bool refuseLine = false);

inline constexpr const char* kPortErrorText = "Port error";
inline constexpr const char* kSettingErrorText = "Communication seting error";
inline constexpr const char* kSystemWarmTitle = "System Warm";

}  // namespace fbx
