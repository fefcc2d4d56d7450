#include "pgm_decoder.h"

#include "source_cursor.h"

#include "imagelib/byte_source.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int kEnd = -1;
constexpr uint32_t kMaxGrey = 65535;
// Numbers saturate here, one above the largest side a bitmap can have: a larger number is
// a size no picture can have, whatever its digits.
constexpr uint64_t kNumberCap = uint64_t{INT32_MAX} + 1;

const char kBadSignature[] = "PGM decoder: Is not the correct identifier P5 or P2.";

[[noreturn]] void EndOfData() { throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n"); }

// Netpbm's whitespace: space, tab, line feed, vertical tab, form feed, carriage return.
bool IsWhitespace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The text of the file with one byte of lookahead, which is kEnd past the last byte.
class PgmText {
public:
    explicit PgmText(CSourceCursor& in) : in_(in) { Next(); }

    int Lookahead() const { return c_; }
    void Next() { c_ = in_.AtEnd() ? kEnd : in_.Byte(); }

    uint32_t Number() {
        uint64_t value = 0;
        for (; IsDigit(c_); Next()) value = std::min(value * 10 + static_cast<uint64_t>(c_ - '0'), kNumberCap);
        return static_cast<uint32_t>(value);
    }
    void SkipWhitespace() {
        while (IsWhitespace(c_)) Next();
    }

private:
    CSourceCursor& in_;
    int c_ = kEnd;
};

struct PgmHeader {
    bool plain = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t maximum = 0;
};

// The three numbers after the signature, with comments from "#" to the end of the line
// between them. On return the lookahead holds the byte after the maximum: for a raw file
// the single whitespace before the samples.
void ReadNumbers(PgmText& text, PgmHeader& h) {
    uint32_t* numbers[3] = {&h.width, &h.height, &h.maximum};
    for (int read = 0; read < 3;) {
        const int c = text.Lookahead();
        if (c == kEnd) {
            EndOfData();
        } else if (c == '#') {
            while (text.Lookahead() != '\n' && text.Lookahead() != '\r' && text.Lookahead() != kEnd) text.Next();
        } else if (IsDigit(c)) {
            *numbers[read++] = text.Number();
        } else if (IsWhitespace(c)) {
            text.SkipWhitespace();
        } else {
            RaiseError(ERR_BAD_DATA, FormatText("PGM decoder: unexpected byte 0x%02x in the header.", c));
        }
    }
    if (h.maximum > kMaxGrey) RaiseError(ERR_BAD_DATA, "PGM decoder: the maximum grey value is above 65535.");
    if (h.maximum == 0) h.maximum = 255;
}

// Grey levels 0..maximum scaled to 0..255 with rounding; larger samples are white.
class GreyScale {
public:
    explicit GreyScale(uint32_t maximum) : levels_(maximum + 1) {
        for (uint32_t v = 0; v <= maximum; ++v) levels_[v] = static_cast<uint8_t>((v * 255 + maximum / 2) / maximum);
    }
    uint8_t operator()(uint32_t v) const { return v < levels_.size() ? levels_[v] : 255; }

private:
    std::vector<uint8_t> levels_;
};

void StoreGrey(CImageBitmap& bitmap, int y, int x, uint8_t grey) {
    if (bitmap.BitsPerPixel() == 8)
        bitmap.Line(y)[x] = grey;
    else
        bitmap.PixelLine(y)[x] = BGRA{grey, grey, grey, 255};
}

void ReadPlainSamples(CSourceCursor& in, PgmText& text, const GreyScale& scale, CImageBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        CWorkBudget::ChargeRow(static_cast<uint64_t>(bitmap.Width()));
        for (int x = 0; x < bitmap.Width(); ++x) {
            text.SkipWhitespace();
            if (text.Lookahead() == kEnd) EndOfData();
            if (!IsDigit(text.Lookahead())) RaiseError(ERR_BAD_DATA, "PGM decoder: a sample is not a decimal number.");
            StoreGrey(bitmap, y, x, scale(text.Number()));
        }
        in.Commit();
    }
}

template <bool Wide>
uint32_t RawSample(const uint8_t* in, int x) {
    if constexpr (Wide) return static_cast<uint32_t>(in[2 * x] << 8 | in[2 * x + 1]);
    return in[x];
}

// One table lookup per sample: every value a raw sample can hold maps straight to its
// output pixel (an index byte or a grey BGRA pixel).
template <bool Wide, typename Pixel>
void ReadRawRows(CByteSource& source, const GreyScale& scale, const Pixel* greys, CImageBitmap& bitmap) {
    std::vector<Pixel> table(Wide ? 65536 : 256);
    for (size_t v = 0; v < table.size(); ++v) table[v] = greys[scale(static_cast<uint32_t>(v))];
    const int width = bitmap.Width();
    const size_t rowBytes = static_cast<size_t>(width) * (Wide ? 2 : 1);
    for (int y = 0; y < bitmap.Height(); ++y) {
        CWorkBudget::ChargeRow(rowBytes);
        const uint8_t* in = source.Read(rowBytes);
        auto* out = reinterpret_cast<Pixel*>(bitmap.Line(y));
        for (int x = 0; x < width; ++x) out[x] = table[RawSample<Wide>(in, x)];
    }
}

void ReadRawSamples(CByteSource& source, bool wide, const GreyScale& scale, CImageBitmap& bitmap) {
    uint8_t indices[256];
    BGRA greys[256];
    for (int g = 0; g < 256; ++g) {
        indices[g] = static_cast<uint8_t>(g);
        greys[g] = OpaqueColour(static_cast<uint8_t>(g), static_cast<uint8_t>(g), static_cast<uint8_t>(g));
    }
    const bool colour = bitmap.BitsPerPixel() == 32;
    if (wide && colour) return ReadRawRows<true>(source, scale, greys, bitmap);
    if (wide) return ReadRawRows<true>(source, scale, indices, bitmap);
    if (colour) return ReadRawRows<false>(source, scale, greys, bitmap);
    ReadRawRows<false>(source, scale, indices, bitmap);
}

// The signature and the header's numbers, checked as far as they can be before the samples:
// the maximum, the size, and whether the data could hold the samples (a raw sample takes
// one or two bytes, a plain one a digit and a separator, the last needing no separator).
// On return a raw file's source stands at its first sample, a plain file's text at the
// byte after the maximum.
PgmHeader ReadHeader(CByteSource& source, CSourceCursor& in, PgmText& text, bool plain) {
    PgmHeader h;
    h.plain = plain;
    ReadNumbers(text, h);
    if (h.width == 0 || h.height == 0)
        RaiseError(ERR_BAD_DATA, FormatText("PGM decoder: the image of %u x %u pixels is empty.", h.width, h.height));
    // Sizes no bitmap can have, then sizes over the storage limit (at the smallest depth the
    // decode makes), are told as such before the data is weighed against them.
    CheckBitmapStorage(h.width, h.height, 8, PaddedLineBytes(h.width, 8));
    const uint64_t samples = uint64_t{h.width} * h.height;
    if (h.plain) {
        const uint64_t bytes = (text.Lookahead() == kEnd ? 0 : 1) + in.Left();
        if (samples > (bytes + 1) / 2) EndOfData();
    } else {
        in.Commit();
        if (samples * (h.maximum > 255 ? 2 : 1) > source.Available()) EndOfData();
    }
    return h;
}

// The signature, "P2" (plain) or "P5" (raw): true for a plain file.
bool ReadSignature(CSourceCursor& in) {
    if (in.Byte() != 'P') RaiseError(ERR_BAD_DATA, kBadSignature);
    const uint8_t form = in.Byte();
    if (form != '2' && form != '5') RaiseError(ERR_BAD_DATA, kBadSignature);
    return form == '2';
}

}  // namespace

void CPGMDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    Trace(2, "Decoding PGM.\n");
    CSourceCursor in(source);
    const bool plain = ReadSignature(in);
    PgmText text(in);
    const PgmHeader h = ReadHeader(source, in, text, plain);

    depth = depth == 32 ? 32 : 8;
    bitmap.Create(static_cast<int>(h.width), static_cast<int>(h.height), depth, false);
    const GreyScale scale(h.maximum);
    CBitmapLock lock(bitmap, false, true);
    if (h.plain)
        ReadPlainSamples(in, text, scale, bitmap);
    else
        ReadRawSamples(source, h.maximum > 255, scale, bitmap);
}

void CPGMDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    CSourceCursor in(source);
    const bool plain = ReadSignature(in);
    PgmText text(in);
    const PgmHeader h = ReadHeader(source, in, text, plain);
    info.width = static_cast<int>(h.width);
    info.height = static_cast<int>(h.height);
    info.bitsPerPixel = h.maximum > 255 ? 16 : 8;
}
