#include "image_decoder.h"

#include "byte_source.h"
#include "text_exception.h"
#include "trace.h"
#include "work_budget.h"

void CImageDecoder::DecodeFile(const std::string& fileName, CImageBitmap& bitmap, int depth,
                               CProgressListener* listener) {
    Trace(1, FormatText("--- Decoding file %s. ---\n", fileName.c_str()));
    CMappedFileSource source(listener);
    if (const int result = source.Open(fileName); result != 0)
        RaiseError(result, FormatText("Opening %s failed", fileName.c_str()));
    CWorkBudget budget(source.DataSize());
    DecodeSource(source, bitmap, depth);
    source.Close();
}

void CImageDecoder::DecodeMemory(const uint8_t* start, size_t size, CImageBitmap& bitmap, int depth) {
    Trace(1, FormatText("--- Decoding from memory at %p. ---\n", static_cast<const void*>(start)));
    CMemoryBlockSource source;
    source.Open(start, size);
    CWorkBudget budget(size);
    DecodeSource(source, bitmap, depth);
    source.Close();
}

void CImageDecoder::DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth) {
    PaletteHolder palette;
    DecodeInto(bitmap, palette, depth, source);
}

void CImageDecoder::DecodeInto(CImageBitmap&, PaletteHolder&, int&, CByteSource&) {}

void ResolveDepth(int fileDepth, int& depth) {
    if (depth == 0) depth = fileDepth <= 8 ? 8 : 32;
}

namespace {

template <int Bits>
void ExpandRow(BGRA* out, const uint8_t* in, int count, const BGRA* table) {
    constexpr int perByte = 8 / Bits;
    constexpr int mask = (1 << Bits) - 1;
    int x = 0;
    for (; x + perByte <= count; x += perByte, ++in) {
        const uint8_t byte = *in;
        for (int k = 0; k < perByte; ++k) out[x + k] = table[(byte >> (8 - Bits * (k + 1))) & mask];
    }
    for (int k = 0; x < count; ++x, ++k) out[x] = table[(*in >> (8 - Bits * (k + 1))) & mask];
}

}  // namespace

void ExpandRow1(BGRA* out, const uint8_t* in, int count, const BGRA* table) { ExpandRow<1>(out, in, count, table); }
void ExpandRow2(BGRA* out, const uint8_t* in, int count, const BGRA* table) { ExpandRow<2>(out, in, count, table); }
void ExpandRow4(BGRA* out, const uint8_t* in, int count, const BGRA* table) { ExpandRow<4>(out, in, count, table); }
void ExpandRow8(BGRA* out, const uint8_t* in, int count, const BGRA* table) {
    for (int x = 0; x < count; ++x) out[x] = table[in[x]];
}
