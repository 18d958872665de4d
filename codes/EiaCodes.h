#pragma once

#include <array>
#include <cstdint>

namespace fbx {

// ISO/EIA tape-code translation. With eiaMode false both lookups return their
// argument unchanged. The EIA codes carry the tape's odd-parity hole where the
// table defines them.

// Send direction: character code -> EIA code.
std::uint8_t ToEiaCode(std::uint8_t code, bool eiaMode);

// Receive direction: received byte -> character code.
std::uint8_t FromEiaCode(std::uint8_t byte, bool eiaMode);

const std::array<std::uint8_t, 256>& asciiToEiaTable();
const std::array<std::uint8_t, 256>& eiaToAsciiTable();

}  // namespace fbx
