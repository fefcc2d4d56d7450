#pragma once

// Small helpers shared by the decoder tests: decoding byte vectors and fixtures through the
// any-format decoder, reading back pixels, and matching a decode against a PNG picture.

#include "codecs/auto_decoder.h"
#include "imagelib/byte_source.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/corpus.h"
#include "support/test_files.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, std::initializer_list<int> bytes) {
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}
inline void AppendLE16(Bytes& out, int v) { Append(out, {v & 0xFF, (v >> 8) & 0xFF}); }
inline void AppendBE16(Bytes& out, int v) { Append(out, {(v >> 8) & 0xFF, v & 0xFF}); }
inline void AppendBE32(Bytes& out, uint32_t v) {
    AppendBE16(out, static_cast<int>(v >> 16));
    AppendBE16(out, static_cast<int>(v & 0xFFFF));
}

// Decodes bytes from memory through the any-format decoder, leaving the depth it reports
// in depth; returns the error code, or 0 when the decode succeeded.
inline int DecodeBytes(const Bytes& bytes, CImageBitmap& bitmap, int& depth) {
    CAutoDecoder decoder;
    CMemoryBlockSource source;
    source.Open(bytes.data(), bytes.size());
    try {
        decoder.DecodeSource(source, bitmap, depth);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

// The same at depth 32.
inline int DecodeBytes(const Bytes& bytes, CImageBitmap& bitmap) {
    int depth = 32;
    return DecodeBytes(bytes, bitmap, depth);
}

// The error code a decode of bytes at depth 32 fails with, or 0.
inline int ErrorOf(const Bytes& bytes) {
    CMemBitmap bitmap;
    return DecodeBytes(bytes, bitmap);
}

// The error code one format's decoder fails with on bytes (for files the any-format
// decoder would not recognise), or 0.
template <typename Decoder, typename... Args>
int ErrorFrom(const Bytes& bytes, Args&&... args) {
    Decoder decoder(std::forward<Args>(args)...);
    CMemBitmap bitmap;
    int depth = 32;
    CMemoryBlockSource source;
    source.Open(bytes.data(), bytes.size());
    try {
        decoder.DecodeSource(source, bitmap, depth);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

// Decodes bytes with one format's decoder, as CAutoDecoder hands them over; the same
// decoder object can be used again, as the library's owner of it does.
inline void DecodeBytes(CImageDecoder& decoder, const Bytes& bytes, CImageBitmap& bitmap, int& depth) {
    CMemoryBlockSource source;
    source.Open(bytes.data(), bytes.size());
    decoder.DecodeSource(source, bitmap, depth);
}

// The code of the CTextException that decoder raises on bytes at depth (0 when the decode
// succeeds), and its text when asked.
inline int DecodeError(CImageDecoder& decoder, const Bytes& bytes, std::string* text = nullptr, int depth = 32) {
    CMemBitmap bitmap;
    try {
        DecodeBytes(decoder, bytes, bitmap, depth);
    } catch (const CTextException& e) {
        if (text) *text = e.Text();
        return e.Code();
    }
    return 0;
}

// Probes bytes; the error code, or 0 with info filled.
inline int ProbeError(CImageDecoder& decoder, const Bytes& bytes, ImageInfo& info) {
    try {
        info = decoder.ProbeMemory(bytes.data(), bytes.size());
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

inline BGRA PixelOf(const CImageBitmap& bitmap, int x, int y) {
    if (bitmap.BitsPerPixel() == 32) return bitmap.PixelLine(y)[x];
    return bitmap.Palette()[bitmap.Line(y)[x]];
}

// Empty when the 32-bit bitmap shows the PNG picture exactly, else what differs.
inline std::string DifferenceFromPicture(const CImageBitmap& bitmap, const std::string& png, int tolerance = 0) {
    CorpusEntry entry;
    entry.reference = png;
    entry.compare = tolerance == 0 ? "exact" : "tol:" + std::to_string(tolerance);
    return CompareWithReference(bitmap, entry);
}
