#include "format_detection.h"

#include "byte_order.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

namespace {

bool OneOf(uint8_t value, std::initializer_list<uint8_t> values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

ImageFormat DetectFormat(const uint8_t* header, size_t size) {
    std::array<uint8_t, kDetectionHeaderSize> b{};
    if (size != 0) std::memcpy(b.data(), header, std::min(size, b.size()));

    if (b[0] == 'B' && b[1] == 'M') return ImageFormat::BMP;
    if (b[1] <= 1 && OneOf(b[2], {0, 1, 2, 3, 9, 10, 11}) && OneOf(b[7], {0, 8, 15, 16, 24, 32}) &&
        OneOf(b[16], {8, 15, 16, 24, 32}))
        return ImageFormat::TGA;
    if (std::memcmp(b.data(), "GIF8", 4) == 0) return ImageFormat::GIF;
    if ((b[0] == 0x49 && b[1] == 0x49 && b[2] == 0x2A && b[3] == 0x00) ||
        (b[0] == 0x4D && b[1] == 0x4D && b[2] == 0x00 && b[3] == 0x2A))
        return ImageFormat::TIFF;
    // The version opcode after the 512-byte preamble, the picture size and the frame.
    if (size > 540) {
        const uint8_t* v = b.data() + 522;
        if ((v[0] == 0x00 && v[1] == 0x11 && v[2] == 0x02 && v[3] == 0xFF) ||
            (v[0] == 0x00 && v[1] == 0x11 && v[2] == 0x01) ||
            (v[0] == 0x11 && v[1] == 0x01 && v[2] == 0x01 && v[3] == 0x00))
            return ImageFormat::PICT;
    }
    // The start-of-image marker. Writers put the next marker right after it, but decoders
    // skip stray bytes between markers and some files carry them there too.
    if (b[0] == 0xFF && b[1] == 0xD8 && size >= 3) return ImageFormat::JPEG;
    if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return ImageFormat::PNG;
    if (((b[0] == 0xC5 && b[1] == 0xD0 && b[2] == 0xD3 && b[3] == 0xC6) ||
         (b[0] == 0xC6 && b[1] == 0xD3 && b[2] == 0xD0 && b[3] == 0xC5)) &&
        ReadLE32(&b[20]) != 0 && ReadLE32(&b[24]) != 0)
        return ImageFormat::EPS;
    if (b[0] == 0x0A && b[2] == 0x01) return ImageFormat::PCX;
    if (b[0] == 'P' && (b[1] == '2' || b[1] == '5')) return ImageFormat::PGM;
    return ImageFormat::None;
}

ImageFormat DetectFormatByName(std::string_view name) {
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper.find(".WMF") != std::string::npos) return ImageFormat::WMF;
    if (upper.find(".EMF") != std::string::npos) return ImageFormat::EMF;
    return ImageFormat::None;
}

const char* FormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::BMP: return "BMP";
    case ImageFormat::PICT: return "PICT";
    case ImageFormat::TGA: return "TGA";
    case ImageFormat::TIFF: return "TIFF";
    case ImageFormat::JPEG: return "JPEG";
    case ImageFormat::PNG: return "PNG";
    case ImageFormat::EPS: return "EPS";
    case ImageFormat::WMF: return "WMF";
    case ImageFormat::EMF: return "EMF";
    case ImageFormat::PCX: return "PCX";
    case ImageFormat::PGM: return "PGM";
    case ImageFormat::GIF: return "GIF";
    case ImageFormat::None: break;
    }
    return "unknown";
}
