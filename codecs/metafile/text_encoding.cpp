#include "text_encoding.h"

#include <QStringDecoder>

#include <array>

namespace metafile {

namespace {

enum CharSet : uint8_t {
    kAnsi = 0,
    kDefault = 1,
    kSymbol = 2,
    kMac = 77,
    kShiftJis = 128,
    kHangul = 129,
    kJohab = 130,
    kGb2312 = 134,
    kBig5 = 136,
    kGreek = 161,
    kTurkish = 162,
    kVietnamese = 163,
    kHebrew = 177,
    kArabic = 178,
    kBaltic = 186,
    kRussian = 204,
    kThai = 222,
    kEastEurope = 238,
    kOem = 255,
};

const char* EncodingName(uint8_t charSet) {
    switch (charSet) {
    case kMac: return "macintosh";
    case kShiftJis: return "Shift_JIS";
    case kHangul: return "CP949";
    case kJohab: return "CP949";
    case kGb2312: return "GBK";
    case kBig5: return "Big5";
    case kGreek: return "windows-1253";
    case kTurkish: return "windows-1254";
    case kVietnamese: return "windows-1258";
    case kHebrew: return "windows-1255";
    case kArabic: return "windows-1256";
    case kBaltic: return "windows-1257";
    case kRussian: return "windows-1251";
    case kThai: return "windows-874";
    case kEastEurope: return "windows-1250";
    case kOem: return "IBM437";
    default: return "windows-1252";
    }
}

// Adobe's Symbol encoding, codes 0x20 to 0xFF; 0 marks a code without a character.
constexpr std::array<char16_t, 224> kSymbolToUnicode = {
    // 0x20
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C, 0x2212, 0x002E, 0x002F,
    // 0x30
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D, 0x22A5, 0x005F,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0,
    // 0x80
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x90
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191, 0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x27E8, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA,
    // 0xF0
    0, 0x27E9, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0,
};

char16_t SymbolCharacter(unsigned code) {
    if (code < 0x20 || code > 0xFF) return static_cast<char16_t>(code);
    const char16_t mapped = kSymbolToUnicode[code - 0x20];
    return mapped != 0 ? mapped : static_cast<char16_t>(code);
}

}  // namespace

bool IsSymbolFace(const QString& faceName) { return faceName.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0; }

QString DecodeText(std::span<const uint8_t> bytes, uint8_t charSet, const QString& faceName) {
    if (IsSymbolFace(faceName) || charSet == kSymbol)
        return QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decoder(EncodingName(charSet));
    if (!decoder.isValid()) return QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QString MapSymbolText(const QString& text, const QString& faceName, const std::function<bool(char32_t)>& fontHas) {
    if (!IsSymbolFace(faceName)) return text;
    QString mapped = text;
    for (QChar& c : mapped) {
        unsigned code = c.unicode();
        if (code >= 0xF020 && code <= 0xF0FF) code -= 0xF000;
        if (code < 0x20 || code > 0xFF) continue;
        const char16_t shown = SymbolCharacter(code);
        if (fontHas(shown) || !fontHas(code)) c = QChar(shown);
        else c = QChar(static_cast<char16_t>(code));
    }
    return mapped;
}

}  // namespace metafile
