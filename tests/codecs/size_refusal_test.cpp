// Headers that claim pictures over the storage limit fail as too large (code 10), carrying
// the size they declare so the viewer can tell it; size fields no picture can have fail as
// bad data (code 2); a size within the limit over too little data fails as short (code 11).
// Every decoder agrees, and its probe with it.

#include "codecs/auto_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void LE16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void LE32(Bytes& out, uint32_t v) {
    LE16(out, v & 0xFFFF);
    LE16(out, v >> 16);
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Pixels of up to 8 bits come with a colour table of 2 entries.
Bytes Bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression) {
    const uint32_t table = bits <= 8 ? 8 : 0;
    Bytes b = {'B', 'M'};
    for (uint32_t v : {54u + table + 64u, 0u, 54u + table, 40u, static_cast<uint32_t>(width), static_cast<uint32_t>(height)})
        LE32(b, v);
    LE16(b, 1);
    LE16(b, bits);
    for (uint32_t v : {compression, 0u, 2835u, 2835u, table / 4, 0u}) LE32(b, v);
    b.resize(b.size() + table, 0x80);
    b.resize(b.size() + 64, 0x11);
    if (compression == 1) b.insert(b.end(), {0, 1});  // the end of a run-length bitmap
    return b;
}

Bytes Gif(uint16_t width, uint16_t height) {
    Bytes b = Text("GIF89a");
    LE16(b, width);
    LE16(b, height);
    for (int v : {0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, int{','}}) b.push_back(static_cast<uint8_t>(v));
    for (uint32_t v : {0u, 0u, uint32_t{width}, uint32_t{height}}) LE16(b, v);
    for (int v : {0, 2, 2, 0x4C, 1, 0, int{';'}}) b.push_back(static_cast<uint8_t>(v));
    return b;
}

Bytes Pcx(uint16_t width, uint16_t height) {
    Bytes b(128, 0);
    b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 8, b[65] = 3;
    b[8] = static_cast<uint8_t>(width - 1), b[9] = static_cast<uint8_t>((width - 1) >> 8);
    b[10] = static_cast<uint8_t>(height - 1), b[11] = static_cast<uint8_t>((height - 1) >> 8);
    b[66] = static_cast<uint8_t>(width), b[67] = static_cast<uint8_t>(width >> 8);
    b.resize(b.size() + 64, 0xC1);
    return b;
}

Bytes Tga(uint16_t width, uint16_t height) {
    Bytes b(18, 0);
    b[2] = 10, b[16] = 32;
    b[12] = static_cast<uint8_t>(width), b[13] = static_cast<uint8_t>(width >> 8);
    b[14] = static_cast<uint8_t>(height), b[15] = static_cast<uint8_t>(height >> 8);
    b.resize(b.size() + 64, 0xFF);
    return b;
}

Bytes Tiff(uint32_t width, uint32_t height) {
    Bytes b = {'I', 'I', 42, 0};
    LE32(b, 8);
    LE16(b, 6);
    for (auto [tag, value] : {std::pair{256u, width}, {257u, height}, {258u, 8u}, {262u, 1u}, {273u, 8u}, {279u, 64u}}) {
        LE16(b, tag);
        LE16(b, 4);
        LE32(b, 1);
        LE32(b, value);
    }
    LE32(b, 0);
    b.resize(b.size() + 64, 0x40);
    return b;
}

// A small JPEG from Qt's writer with its frame header claiming width x height.
Bytes Jpeg(uint16_t width, uint16_t height) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    Bytes b(bytes.begin(), bytes.end());
    for (size_t i = 2; i + 8 < b.size(); ++i)
        if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) {
            b[i + 5] = static_cast<uint8_t>(height >> 8), b[i + 6] = static_cast<uint8_t>(height);
            b[i + 7] = static_cast<uint8_t>(width >> 8), b[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    return b;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A small PNG from Qt's writer with its header claiming width x height (the header's
// checksum made to match).
Bytes Png(uint32_t width, uint32_t height) {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    Bytes b(bytes.begin(), bytes.end());
    constexpr size_t kType = 12, kFields = 16, kCrc = 29;  // IHDR is the first chunk
    for (int i = 0; i < 4; ++i) {
        b[kFields + static_cast<size_t>(i)] = static_cast<uint8_t>(width >> (24 - 8 * i));
        b[kFields + 4 + static_cast<size_t>(i)] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
    const uint32_t crc = Crc32(b.data() + kType, 17);
    for (int i = 0; i < 4; ++i) b[kCrc + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    return b;
}

struct Refusal {
    const char* what;
    Bytes file;
    int code;
    DeclaredSize declared;  // for code 10
};

std::vector<Refusal> Refusals() {
    return {
        {"BMP over the limit", Bmp(40000, 40000, 32, 0), ERR_OUT_OF_MEMORY, {40000, 40000}},
        {"RLE8 BMP over the limit", Bmp(70000, 70000, 8, 1), ERR_OUT_OF_MEMORY, {70000, 70000}},
        {"BMP of negative width", Bmp(-5, 10, 24, 0), ERR_BAD_DATA, {}},
        {"GIF over the limit", Gif(65535, 65535), ERR_OUT_OF_MEMORY, {65535, 65535}},
        {"PCX over the limit", Pcx(65534, 65534), ERR_OUT_OF_MEMORY, {65534, 65534}},
        {"TGA over the limit", Tga(65535, 65535), ERR_OUT_OF_MEMORY, {65535, 65535}},
        {"TGA within the limit over a few bytes", Tga(2000, 2000), ERR_END_OF_DATA, {}},
        {"TIFF over the limit", Tiff(60000, 60000), ERR_OUT_OF_MEMORY, {60000, 60000}},
        {"TIFF of an impossible size", Tiff(4294967295u, 4294967295u), ERR_BAD_DATA, {}},
        {"JPEG over libjpeg's sides", Jpeg(65535, 300), ERR_OUT_OF_MEMORY, {65535, 300}},
        {"PNG over the limit, and over libpng's own million a side", Png(1200000, 4000), ERR_OUT_OF_MEMORY, {1200000, 4000}},
        {"PNG over the limit", Png(60000, 60000), ERR_OUT_OF_MEMORY, {60000, 60000}},
        {"PNG of an impossible size", Png(0x80000000u, 2), ERR_BAD_DATA, {}},
        {"PGM over the limit", Text("P5 70000 70000 255\n\x01\x02"), ERR_OUT_OF_MEMORY, {70000, 70000}},
        {"PGM of an impossible size", Text("P5 99999999999 2 255\n\x01\x02"), ERR_BAD_DATA, {}},
        {"PGM within the limit over a few bytes", Text("P5 40000 30000 255\n\x01\x02"), ERR_END_OF_DATA, {}},
    };
}

TEST(SizeRefusal, EveryDecoderAndItsProbeTellTooLargeFromImpossible) {
    for (const Refusal& refusal : Refusals()) {
        SCOPED_TRACE(refusal.what);
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        try {
            decoder.DecodeMemory(refusal.file.data(), refusal.file.size(), bitmap, 32);
            ADD_FAILURE() << "decoded";
        } catch (const CTextException& e) {
            EXPECT_EQ(e.Code(), refusal.code) << e.Text();
            if (refusal.code == ERR_OUT_OF_MEMORY) {
                EXPECT_EQ(e.Declared().width, refusal.declared.width) << e.Text();
                EXPECT_EQ(e.Declared().height, refusal.declared.height) << e.Text();
            }
        }
        // The probe reports the size it reads, or refuses the header as too large with that
        // size, or as the decode does. It allocates nothing and asks for no depth, so a
        // header over the limit only at 32 bits may fail its own checks of the file's data.
        try {
            const ImageInfo info = decoder.ProbeMemory(refusal.file.data(), refusal.file.size());
            if (refusal.code == ERR_OUT_OF_MEMORY) {
                EXPECT_EQ(info.width, refusal.declared.width);
                EXPECT_EQ(info.height, refusal.declared.height);
            }
        } catch (const CTextException& e) {
            if (e.Code() == ERR_OUT_OF_MEMORY) {
                EXPECT_EQ(e.Declared().width, refusal.declared.width) << e.Text();
                EXPECT_EQ(e.Declared().height, refusal.declared.height) << e.Text();
            } else if (refusal.code != ERR_OUT_OF_MEMORY) {
                EXPECT_EQ(e.Code(), refusal.code) << e.Text();
            }
        }
    }
}

}  // namespace
