#pragma once

#include <QString>

#include <cstdint>
#include <span>

namespace metafile {

// The text of an 8-bit string in a font of the given character set (ANSI means
// Windows-1252; the East Asian sets are multi-byte). Fonts named "Symbol" use the Symbol
// encoding whatever their character set says.
QString DecodeText(std::span<const uint8_t> bytes, uint8_t charSet, const QString& faceName);

// Unicode text for a font named "Symbol": characters written in the Symbol encoding, as
// bytes or in the private-use block U+F020..U+F0FF, become the Unicode characters they
// show. Other text stays as it is.
QString MapSymbolText(const QString& text, const QString& faceName);

}  // namespace metafile
