#include "exif_orientation.h"

#include "byte_order.h"
#include "trace.h"

#include <cstring>

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr size_t kEntrySize = 12;

int Malformed(const char* why) {
    Trace(1, FormatText("Exif block ignored: %s.\n", why));
    return 1;
}

}  // namespace

int ReadExifOrientation(std::span<const uint8_t> block) {
    if (block.size() >= 6 && std::memcmp(block.data(), "Exif\0\0", 6) == 0) block = block.subspan(6);
    if (block.size() < 8) return Malformed("shorter than its header");
    const uint8_t* base = block.data();
    bool little = false;
    if (base[0] == 'I' && base[1] == 'I')
        little = true;
    else if (!(base[0] == 'M' && base[1] == 'M'))
        return Malformed("no byte-order mark");
    auto read16 = [&](size_t at) { return little ? ReadLE16(base + at) : ReadBE16(base + at); };
    auto read32 = [&](size_t at) { return little ? ReadLE32(base + at) : ReadBE32(base + at); };
    if (read16(2) != 42) return Malformed("not a TIFF structure");

    const uint32_t ifd = read32(4);
    if (ifd < 8 || ifd > block.size() - 2) return Malformed("the first directory lies outside the block");
    const uint16_t entries = read16(ifd);
    if (entries > (block.size() - ifd - 2) / kEntrySize) return Malformed("more directory entries than the block holds");
    for (size_t i = 0; i < entries; ++i) {
        const size_t entry = ifd + 2 + i * kEntrySize;
        if (read16(entry) != kOrientationTag) continue;
        if (read16(entry + 2) != kShortType || read32(entry + 4) != 1) return Malformed("an orientation of the wrong type");
        const uint16_t orientation = read16(entry + 8);
        if (orientation < 1 || orientation > 8) return Malformed("an orientation outside 1 to 8");
        return orientation;
    }
    return 1;
}
