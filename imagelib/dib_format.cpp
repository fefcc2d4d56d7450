#include "dib_format.h"

#include "byte_order.h"
#include "storage_limit.h"
#include "work_budget.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr BGRA kOpaqueAlphaOnly{0, 0, 0, 255};

}  // namespace

bool ParseBmpFileHeader(std::span<const uint8_t, kBmpFileHeaderSize> bytes, BmpFileHeader& header) {
    if (ReadLE16(bytes.data()) != 0x4D42) return false;
    header.fileSize = ReadLE32(bytes.data() + 2);
    header.rowsOffset = ReadLE32(bytes.data() + 10);
    return true;
}

DibInfoHeader ParseDibInfoHeader(std::span<const uint8_t> bytes) {
    // The fields up to the alpha mask; V4 and V5 add colour-space fields nothing here uses.
    uint8_t full[56] = {};
    std::memcpy(full, bytes.data(), std::min(bytes.size(), sizeof full));
    DibInfoHeader h;
    h.size = ReadLE32(full);
    const size_t given = std::min<size_t>({h.size, bytes.size(), sizeof full});
    std::memset(full + given, 0, sizeof full - given);
    if (h.Core()) {
        h.width = ReadLE16(full + 4);
        h.height = ReadLE16(full + 6);
        h.planes = ReadLE16(full + 8);
        h.bitsPerPixel = ReadLE16(full + 10);
        return h;
    }
    h.width = static_cast<int32_t>(ReadLE32(full + 4));
    h.height = static_cast<int32_t>(ReadLE32(full + 8));
    h.planes = ReadLE16(full + 12);
    h.bitsPerPixel = ReadLE16(full + 14);
    h.compression = ReadLE32(full + 16);
    h.imageSize = ReadLE32(full + 20);
    h.xDensity = ReadLE32(full + 24);
    h.yDensity = ReadLE32(full + 28);
    h.coloursUsed = ReadLE32(full + 32);
    if (h.size >= 52)
        for (size_t i = 0; i < 3; ++i) h.masks[i] = ReadLE32(full + 40 + 4 * i);
    if (h.size >= 56) h.masks[3] = ReadLE32(full + 52);
    return h;
}

size_t DibMaskBytesAfterHeader(const DibInfoHeader& header) {
    if (header.Core() || header.size >= 52 || !header.BitFields()) return 0;
    return header.compression == kDibAlphaBitFields ? 16 : 12;
}

void ReadDibMasksAfterHeader(std::span<const uint8_t> bytes, DibInfoHeader& header) {
    const size_t count = std::min<size_t>(DibMaskBytesAfterHeader(header), bytes.size()) / 4;
    for (size_t i = 0; i < count; ++i) header.masks[i] = ReadLE32(bytes.data() + 4 * i);
}

uint64_t DibColourTableEntries(const DibInfoHeader& header) {
    if (header.EmbeddedPicture()) return 0;
    if (header.bitsPerPixel > 8) return header.compression == kDibRgb ? header.coloursUsed : 0;
    return header.coloursUsed != 0 ? header.coloursUsed : uint64_t{1} << header.bitsPerPixel;
}

size_t ReadDibColourTable(std::span<const uint8_t> bytes, size_t entrySize, std::span<BGRA> table) {
    const size_t count = std::min(bytes.size() / entrySize, table.size());
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = bytes.data() + i * entrySize;
        table[i] = BGRA{e[0], e[1], e[2], 255};
    }
    std::fill(table.begin() + static_cast<ptrdiff_t>(count), table.end(), BGRA{0, 0, 0, 255});
    return count;
}

uint8_t UnpackDibIndices(const uint8_t* in, int bits, int count, uint8_t* out) {
    if (count <= 0) return 0;
    const auto n = static_cast<size_t>(count);
    if (bits == 8) {
        std::memcpy(out, in, n);
        return *std::max_element(in, in + n);
    }
    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    uint8_t largest = 0;
    for (size_t x = 0; x < n; ++x) {
        const int shift = 8 - bits * (static_cast<int>(x % static_cast<size_t>(perByte)) + 1);
        out[x] = static_cast<uint8_t>((in[x / static_cast<size_t>(perByte)] >> shift) & mask);
        largest = std::max(largest, out[x]);
    }
    return largest;
}

void ConvertDibRow24(const uint8_t* in, int count, BGRA* out) {
    // Whole 4-byte loads for every pixel but the last, whose fourth byte may lie beyond the row.
    int x = 0;
    for (; x + 1 < count; ++x, in += 3) {
        uint8_t bytes[4];
        WriteLE32(bytes, ReadLE32(in) | 0xFF000000u);
        std::memcpy(&out[x], bytes, 4);
    }
    if (x < count) out[x] = BGRA{in[0], in[1], in[2], 255};
}

std::array<uint32_t, 4> DibPixelMasks(const DibInfoHeader& header) {
    if (header.BitFields()) return header.masks;
    if (header.bitsPerPixel == 16) return {0x7C00, 0x03E0, 0x001F, 0};
    return {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
}

DibBitFields::Channel::Channel(uint32_t m) : mask(m) {
    if (m == 0) return;
    // The field's span from its lowest to its highest bit, holes included.
    const int bits = std::bit_width(m >> std::countr_zero(m));
    shift = std::countr_zero(m) + std::max(bits - 8, 0);
    const int kept = std::min(bits, 8);
    for (uint32_t v = 0; v < (uint32_t{1} << kept); ++v) {
        uint32_t wide = 0;
        for (int s = 8 - kept; s > -kept; s -= kept) wide |= s >= 0 ? v << s : v >> -s;
        widened[v] = static_cast<uint8_t>(wide);
    }
}

DibBitFields::DibBitFields(const std::array<uint32_t, 4>& masks, int bitsPerPixel)
    : red_(masks[0]), green_(masks[1]), blue_(masks[2]), alpha_(masks[3]), bytesPerPixel_(bitsPerPixel / 8),
      plainBgra_(bitsPerPixel == 32 && masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF &&
                 (masks[3] == 0xFF000000 || masks[3] == 0)) {}

template <int BytesPerPixel, bool Alpha>
uint8_t DibBitFields::SplitRow(const uint8_t* in, size_t count, BGRA* out, uint8_t forced) const {
    uint8_t alpha = Alpha ? 0 : 255;
    for (size_t x = 0; x < count; ++x, in += BytesPerPixel) {
        const uint32_t word = BytesPerPixel == 2 ? ReadLE16(in) : ReadLE32(in);
        const uint8_t a = Alpha ? alpha_(word) : uint8_t{255};
        out[x] = BGRA{blue_(word), green_(word), red_(word), static_cast<uint8_t>(a | forced)};
        if constexpr (Alpha) alpha |= a;
    }
    return alpha;
}

uint8_t DibBitFields::ConvertRow(const uint8_t* in, int count, BGRA* out, bool opaque) const {
    const auto n = static_cast<size_t>(std::max(count, 0));
    const uint8_t forced = opaque ? 255 : 0;
    if (plainBgra_) {
        // The library's own byte order: whole words copied, in the host's order both ways.
        uint32_t alphaBits = 0;
        std::memcpy(&alphaBits, &kOpaqueAlphaOnly, 4);
        const uint32_t force = opaque || alpha_.mask == 0 ? alphaBits : 0;
        uint32_t seen = alpha_.mask == 0 ? alphaBits : 0;
        for (size_t x = 0; x < n; ++x, in += 4) {
            uint32_t word;
            std::memcpy(&word, in, 4);
            seen |= word;
            word |= force;
            std::memcpy(static_cast<void*>(&out[x]), &word, 4);
        }
        BGRA seenBytes;
        std::memcpy(static_cast<void*>(&seenBytes), &seen, 4);
        return seenBytes.a;
    }
    if (bytesPerPixel_ == 2)
        return alpha_.mask != 0 ? SplitRow<2, true>(in, n, out, forced) : SplitRow<2, false>(in, n, out, forced);
    return alpha_.mask != 0 ? SplitRow<4, true>(in, n, out, forced) : SplitRow<4, false>(in, n, out, forced);
}

DibRunLengthResult DecodeDibRunLength(std::span<const uint8_t> data, int bitsPerPixel, int width, int height,
                                      DibRunCheck check, const DibRunTarget& target) {
    const bool four = bitsPerPixel == 4;
    const bool strict = check == DibRunCheck::Strict;
    // Writers pad encoded rows to the 4-byte row length of the uncompressed layout; pixels in
    // that padding are dropped. A run that goes further is damage to a strict reader.
    const uint64_t paddedBits = PaddedLineBytes(int64_t{width} * bitsPerPixel, 1) * 8;
    const auto paddedWidth = static_cast<int64_t>(paddedBits / static_cast<uint64_t>(bitsPerPixel));
    size_t at = 0;
    int64_t x = 0;
    int64_t row = 0;
    uint8_t indices[255];
    auto result = [&](DibRunEnd end) { return DibRunLengthResult{end, at}; };
    // Passes the in-bitmap part of a run of count indices; false when a strict run overflows.
    auto put = [&](int count) {
        int64_t valid = count;
        if (strict) valid = row >= height ? 0 : std::clamp<int64_t>(paddedWidth - x, 0, count);
        if (row < height && x < width) {
            const auto shown = static_cast<size_t>(std::min<int64_t>(valid, width - x));
            target(static_cast<int>(row), static_cast<int>(x), std::span<const uint8_t>(indices, shown));
        }
        x += count;
        return valid == count;
    };
    for (;;) {
        if (!strict && row >= height) return result(DibRunEnd::RowsFilled);
        CWorkBudget::Charge();
        if (data.size() - at < 2) return result(DibRunEnd::DataEnded);
        const int count = data[at];
        const uint8_t value = data[at + 1];
        at += 2;
        if (count != 0) {
            for (int i = 0; i < count; ++i)
                indices[i] = four ? static_cast<uint8_t>((i & 1) ? value & 0x0F : value >> 4) : value;
            if (!put(count)) return result(DibRunEnd::RunPastRow);
            continue;
        }
        if (value == 0) {  // end of row
            x = 0;
            ++row;
        } else if (value == 1) {
            return result(DibRunEnd::EndOfBitmap);
        } else if (value == 2) {  // delta: move right and up
            if (data.size() - at < 2) return result(DibRunEnd::DataCut);
            x += data[at];
            row += data[at + 1];
            at += 2;
            if (strict && (x > width || row > height)) return result(DibRunEnd::DeltaPastEnd);
        } else {  // absolute run of value pixels, padded to an even number of bytes
            const size_t bytes = four ? (value + 1u) / 2 : value;
            if (data.size() - at < bytes + (bytes & 1)) return result(DibRunEnd::DataCut);
            const uint8_t* in = data.data() + at;
            for (int i = 0; i < value; ++i)
                indices[i] = four ? static_cast<uint8_t>((i & 1) ? in[i / 2] & 0x0F : in[i / 2] >> 4) : in[i];
            at += bytes + (bytes & 1);
            if (!put(value)) return result(DibRunEnd::RunPastRow);
        }
    }
}

void WriteBmpFileHeader(uint8_t* out, uint64_t fileSize, uint64_t rowsOffset) {
    std::memset(out, 0, kBmpFileHeaderSize);
    out[0] = 'B';
    out[1] = 'M';
    WriteLE32(out + 2, static_cast<uint32_t>(std::min<uint64_t>(fileSize, UINT32_MAX)));
    WriteLE32(out + 10, static_cast<uint32_t>(rowsOffset));
}

void WriteDibInfoHeader(uint8_t* out, int width, int height, int depth) {
    std::memset(out, 0, kDibInfoHeaderSize);
    WriteLE32(out, kDibInfoHeaderSize);
    WriteLE32(out + 4, static_cast<uint32_t>(width));
    WriteLE32(out + 8, static_cast<uint32_t>(height));
    WriteLE16(out + 12, 1);
    WriteLE16(out + 14, static_cast<uint16_t>(depth));
}

void PackDibRow(const uint8_t* line, int width, int depth, std::span<uint8_t> row) {
    size_t written = 0;
    if (depth <= 8) {
        written = std::min<size_t>(UnpaddedLineBytes(width, depth), row.size());
        std::copy_n(line, written, row.data());
    } else {
        const auto* in = reinterpret_cast<const BGRA*>(line);
        uint8_t* out = row.data();
        for (int x = 0; x < width; ++x, out += 3) {
            out[0] = in[x].b;
            out[1] = in[x].g;
            out[2] = in[x].r;
        }
        written = static_cast<size_t>(width) * 3;
    }
    std::fill(row.begin() + static_cast<ptrdiff_t>(written), row.end(), uint8_t{0});
}
