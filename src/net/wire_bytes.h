// Little-endian field access over raw datagram bytes, the same on every host: values go through
// shifts, never through a record laid over the bytes.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace brassmoor {

// Every datagram of the protocol starts with these four bytes and a type byte at TypeOffset.
inline constexpr std::array<std::uint8_t, 4> DatagramMagic = {'K', 'V', '0', '1'};
inline constexpr std::size_t DatagramTypeOffset = 4;
inline constexpr std::size_t DatagramHeaderSize = 5;

inline void putU16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFFu);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFFu);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
    at[2] = static_cast<std::uint8_t>((value >> 16) & 0xFFu);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void putF32(std::uint8_t* at, float value) {
    putU32(at, std::bit_cast<std::uint32_t>(value));
}

inline std::uint16_t getU16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t getU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline float getF32(const std::uint8_t* at) {
    return std::bit_cast<float>(getU32(at));
}

inline void putDatagramHeader(std::uint8_t* at, std::uint8_t type) {
    std::copy(DatagramMagic.begin(), DatagramMagic.end(), at);
    at[DatagramTypeOffset] = type;
}

// The magic and the type; the caller has checked that the header's bytes are there.
inline bool hasDatagramHeader(std::span<const std::uint8_t> bytes, std::uint8_t type) {
    return std::equal(DatagramMagic.begin(), DatagramMagic.end(), bytes.begin()) &&
           bytes[DatagramTypeOffset] == type;
}

}  // namespace brassmoor
