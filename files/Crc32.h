#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fbx {

// CRC-32 as zlib, cksum -a crc32b and Python's zlib.crc32 compute it
// (reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF).
class Crc32 {
public:
    void update(const std::uint8_t* data, std::size_t n);
    void update(std::string_view bytes) {
        update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::uint32_t value() const { return ~m_state; }

private:
    std::uint32_t m_state = 0xFFFFFFFFu;
};

}  // namespace fbx
