#pragma once

#include <QString>

#include <cstdint>
#include <span>

// Text stored by Macintosh programs: the Mac OS Roman character set, whose lower half is
// ASCII and whose upper half holds accented letters, typography and mathematical signs.
QString MacRomanToUnicode(std::span<const uint8_t> bytes);
