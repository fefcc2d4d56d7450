#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <span>

namespace metafile {

// The text of an 8-bit string in a font of the given character set (ANSI means
// Windows-1252; the East Asian sets are multi-byte). Strings for symbol fonts (the
// symbol character set, or a font named "Symbol") keep their byte values as characters.
QString DecodeText(std::span<const uint8_t> bytes, uint8_t charSet, const QString& faceName);

bool IsSymbolFace(const QString& faceName);

// Text for a font named "Symbol", whose codes (bytes, or the private-use block
// U+F020..U+F0FF) stand for Greek letters and mathematical signs. Each code becomes the
// Unicode character it shows when the font at hand has that character, else the plain
// code when the font has that (a font in the Symbol encoding itself); fontHas answers
// for the font. Text for other fonts stays as it is.
QString MapSymbolText(const QString& text, const QString& faceName, const std::function<bool(char32_t)>& fontHas);

}  // namespace metafile
