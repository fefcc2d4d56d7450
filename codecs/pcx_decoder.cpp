#include "pcx_decoder.h"

#include "source_cursor.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kPaletteMarker = 12;
// One run of two bytes yields at most 63 bytes, so no image can need fewer input bytes than
// a 32nd of its size.
constexpr uint64_t kBestCompression = 32;

const BGRA kBlack{0, 0, 0, 255};

struct PcxHeader {
    int bitsPerPixel = 0;
    int planes = 0;
    int width = 0;
    int height = 0;
    size_t bytesPerLine = 0;
    BGRA colourMap[16];
};

PcxHeader ReadFields(CByteSource& source) {
    const uint8_t* h = source.Read(kHeaderSize);
    if (h[0] != 10) RaiseError(ERR_NOT_THIS_FORMAT, "Error decoding pcx: Not a PCX file.");
    if (h[2] != 1) RaiseError(ERR_NOT_THIS_FORMAT, "File has unknown encoding scheme.");
    PcxHeader header;
    header.bitsPerPixel = h[3];
    const int xMin = ReadLE16(h + 4);
    const int yMin = ReadLE16(h + 6);
    const int xMax = ReadLE16(h + 8);
    const int yMax = ReadLE16(h + 10);
    if (xMax < xMin || yMax < yMin) RaiseError(ERR_BAD_DATA, "PCX decoder: the image window is empty.");
    header.width = xMax - xMin + 1;
    header.height = yMax - yMin + 1;
    for (int i = 0; i < 16; ++i) header.colourMap[i] = OpaqueColour(h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]);
    header.planes = h[65];
    header.bytesPerLine = ReadLE16(h + 66);
    return header;
}

void CheckLayout(const PcxHeader& h) {
    if (h.bitsPerPixel == 1) {
        if (h.planes >= 5) RaiseError(ERR_BAD_DATA, "Can't handle image with more than 4 planes.");
        if (h.planes >= 1) return;
    } else if ((h.bitsPerPixel == 2 || h.bitsPerPixel == 4 || h.bitsPerPixel == 8) && (h.planes == 1 || h.planes == 3)) {
        if (h.planes == 3 && h.bitsPerPixel != 8) RaiseError(ERR_CANNOT_HANDLE, "Can't handle more than 1 bit per pixel.");
        return;
    }
    RaiseError(ERR_BAD_DATA, "Can't handle bits per pixel image with planes.");
}

// Image bytes of all rows and planes, as the run-length data expands to.
uint64_t ImageBytes(const PcxHeader& h) { return static_cast<uint64_t>(h.planes) * h.bytesPerLine * static_cast<uint64_t>(h.height); }

// The header, checked as far as it can be before the pixels: its plane layout, whether the
// picture (always decoded at 32 bits) fits the storage limit, and whether the data after it
// could hold the image at the best compression.
PcxHeader ReadHeader(CByteSource& source) {
    const PcxHeader h = ReadFields(source);
    CheckLayout(h);
    CheckBitmapStorage(h.width, h.height, 32, PaddedLineBytes(h.width, 32));
    if (ImageBytes(h) / kBestCompression > source.Available())
        throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    return h;
}

// The image's run-length data as one stream of bytes: a run may carry over from one row
// (or plane) into the next, but never past the last byte of the image.
class PcxRunReader {
public:
    PcxRunReader(CSourceCursor& in, uint64_t imageBytes) : in_(in), missing_(imageBytes) {}

    void Fill(uint8_t* out, size_t count) {
        missing_ -= count;
        uint8_t* const stop = out + count;
        const size_t carried = std::min<size_t>(runLeft_, count);
        std::memset(out, runValue_, carried);
        out += carried;
        runLeft_ -= carried;
        // Local pointers: stores through out may alias the cursor's own fields.
        const uint8_t* next = in_.Next();
        const uint8_t* const end = in_.End();
        if constexpr (std::endian::native == std::endian::little) FillFast(next, end, out, stop);
        while (out < stop) {
            if (next == end) Exhausted(next);
            const uint8_t b = *next++;
            if ((b & 0xC0) != 0xC0) {
                *out++ = b;
                continue;
            }
            if (next == end) Exhausted(next);
            const uint8_t value = *next++;
            size_t run = b & 0x3Fu;
            const size_t room = static_cast<size_t>(stop - out);
            if (run > room) {
                if (run - room > missing_) RaiseError(ERR_CANNOT_HANDLE, "repeat count spans end of image.");
                runLeft_ = run - room;
                runValue_ = value;
                run = room;
            }
            std::memset(out, value, run);
            out += run;
        }
        in_.MoveTo(next);
    }

private:
    // Far from both ends of the data and the output, eight bytes are examined at once: the
    // literals before the first run are copied in one store, then that run is written with
    // one 8-byte store (and more for runs longer than 8). Leaves the rest to the byte loop.
    static void FillFast(const uint8_t*& next, const uint8_t* end, uint8_t*& out, uint8_t* stop) {
        constexpr uint64_t kHighBits = 0x8080808080808080ull;
        while (stop - out >= 80 && end - next >= 10) {
            uint64_t bytes;
            std::memcpy(&bytes, next, sizeof bytes);
            std::memcpy(out, &bytes, sizeof bytes);
            // A byte starts a run when its two high bits are set.
            const uint64_t runs = bytes & (bytes << 1) & kHighBits;
            if (runs == 0) {
                next += 8;
                out += 8;
                continue;
            }
            const int literals = std::countr_zero(runs) / 8;
            next += literals;
            out += literals;
            const size_t run = next[0] & 0x3Fu;
            const uint64_t pattern = next[1] * 0x0101010101010101ull;
            next += 2;
            std::memcpy(out, &pattern, sizeof pattern);
            if (run > sizeof pattern) std::memset(out + sizeof pattern, static_cast<int>(pattern & 0xFF), run - sizeof pattern);
            out += run;
        }
    }

    [[noreturn]] void Exhausted(const uint8_t* next) {
        in_.MoveTo(next);
        in_.RunOut();
    }

    CSourceCursor& in_;
    uint64_t missing_;  // image bytes not yet asked for beyond the current request
    size_t runLeft_ = 0;
    uint8_t runValue_ = 0;
};

// Colour indices of one row of a single plane, most significant bits first.
uint8_t IndexAt(const uint8_t* plane, int x, int bits) {
    switch (bits) {
    case 8: return plane[x];
    case 4: return (plane[x >> 1] >> (4 - 4 * (x & 1))) & 0x0F;
    case 2: return (plane[x >> 2] >> (6 - 2 * (x & 3))) & 0x03;
    default: return (plane[x >> 3] >> (7 - (x & 7))) & 0x01;
    }
}

class PcxRowConverter {
public:
    PcxRowConverter(const PcxHeader& h, const BGRA* palette)
        : h_(h), palette_(palette), trueColour_(h.bitsPerPixel == 8 && h.planes == 3) {
        const uint64_t perPlaneRow = static_cast<uint64_t>(h.bytesPerLine) * 8 / static_cast<uint64_t>(h.bitsPerPixel);
        covered_ = static_cast<int>(std::min<uint64_t>(perPlaneRow, static_cast<uint64_t>(h.width)));
    }

    // Pixels of a row that the row's bytes describe; the others are black.
    int Covered() const { return covered_; }

    void Convert(const uint8_t* line, BGRA* out) const {
        const size_t bpl = h_.bytesPerLine;
        if (trueColour_) {
            const uint8_t* red = line;
            const uint8_t* green = line + bpl;
            const uint8_t* blue = line + 2 * bpl;
            // Whole 32-bit pixels per store; the compiler vectorises this form.
            auto* bytes = reinterpret_cast<uint8_t*>(out);
            for (int x = 0; x < covered_; ++x) {
                const uint32_t pixel = blue[x] | green[x] << 8 | red[x] << 16 | 0xFF000000u;
                std::memcpy(bytes + 4 * x, &pixel, sizeof pixel);
            }
        } else if (h_.planes == 1) {
            for (int x = 0; x < covered_; ++x) out[x] = palette_[IndexAt(line, x, h_.bitsPerPixel)];
        } else {
            for (int x = 0; x < covered_; ++x) {
                int index = 0;
                for (int p = 0; p < h_.planes; ++p) index |= IndexAt(line + p * bpl, x, 1) << p;
                out[x] = palette_[index];
            }
        }
        std::fill(out + covered_, out + h_.width, kBlack);
    }

private:
    const PcxHeader& h_;
    const BGRA* palette_;
    bool trueColour_;
    int covered_ = 0;
};

// 256-colour images keep their palette after the image data, so their rows are decoded as
// indices first (into the start of each bitmap row) and looked up once the palette is read.
void DecodeWithTrailingPalette(CSourceCursor& in, PcxRunReader& runs, const PcxHeader& h, CImageBitmap& bitmap) {
    // Never empty, so its data pointer is valid even for rows of 0 bytes.
    std::vector<uint8_t> line(std::max<size_t>(h.bytesPerLine, 1));
    const int covered = static_cast<int>(std::min<size_t>(h.bytesPerLine, static_cast<size_t>(h.width)));
    for (int y = 0; y < h.height; ++y) {
        CWorkBudget::ChargeRow(h.bytesPerLine);
        runs.Fill(line.data(), h.bytesPerLine);
        std::memcpy(bitmap.Line(y), line.data(), static_cast<size_t>(covered));
        in.Commit();
    }
    if (in.Byte() != kPaletteMarker) RaiseError(ERR_CANNOT_HANDLE, "bad color map signature.");
    const uint8_t* entries = in.Take(3 * 256);
    in.Commit();
    BGRA palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = OpaqueColour(entries[3 * i], entries[3 * i + 1], entries[3 * i + 2]);
    for (int y = 0; y < h.height; ++y) {
        BGRA* row = bitmap.PixelLine(y);
        const uint8_t* indices = bitmap.Line(y);
        // Right to left, so no index is overwritten before it is looked up.
        for (int x = covered - 1; x >= 0; --x) row[x] = palette[indices[x]];
        std::fill(row + covered, row + h.width, kBlack);
    }
}

}  // namespace

void CPCXDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    Trace(2, "Decoding PCX.\n");
    const PcxHeader h = ReadHeader(source);
    const uint64_t imageBytes = ImageBytes(h);

    if (depth == 0) depth = 8;
    bitmap.Create(h.width, h.height, 32, false);
    CBitmapLock lock(bitmap, false, true);
    CSourceCursor in(source);
    PcxRunReader runs(in, imageBytes);
    if (h.bitsPerPixel == 8 && h.planes == 1) {
        DecodeWithTrailingPalette(in, runs, h, bitmap);
        return;
    }

    BGRA palette[16];
    std::copy(std::begin(h.colourMap), std::end(h.colourMap), palette);
    if (h.bitsPerPixel == 1 && h.planes == 1) {
        palette[0] = kBlack;
        palette[1] = OpaqueColour(255, 255, 255);
    }
    const PcxRowConverter converter(h, palette);
    const size_t lineBytes = static_cast<size_t>(h.planes) * h.bytesPerLine;
    std::vector<uint8_t> line(std::max<size_t>(lineBytes, 1));
    for (int y = 0; y < h.height; ++y) {
        CWorkBudget::ChargeRow(lineBytes);
        runs.Fill(line.data(), lineBytes);
        converter.Convert(line.data(), bitmap.PixelLine(y));
        in.Commit();
    }
}

void CPCXDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const PcxHeader h = ReadHeader(source);
    info.width = h.width;
    info.height = h.height;
    info.bitsPerPixel = h.bitsPerPixel * h.planes;
}
