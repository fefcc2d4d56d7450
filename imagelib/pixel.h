#pragma once

#include <cstdint>

// One 32-bit pixel or palette entry in the library's byte order: blue, green, red, alpha.
// Read as a little-endian 32-bit value it is 0xAARRGGBB.
struct BGRA {
    uint8_t b = 0;
    uint8_t g = 0;
    uint8_t r = 0;
    uint8_t a = 0;

    friend bool operator==(const BGRA&, const BGRA&) = default;
};
static_assert(sizeof(BGRA) == 4, "BGRA must be exactly four bytes");

constexpr BGRA OpaqueColour(uint8_t r, uint8_t g, uint8_t b) { return BGRA{b, g, r, 255}; }
