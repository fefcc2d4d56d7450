#pragma once

#include "codecs/auto_decoder.h"
#include "imagelib/image_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"

#include <cstddef>
#include <cstdint>

// Feeds one input to a format's decoder directly and through the any-format decoder. Every
// outcome but a CTextException or success is a finding: libFuzzer reports crashes, leaks,
// sanitizer reports and other exceptions (which abort as uncaught).
template <typename Decoder>
int FuzzDecoder(const uint8_t* data, size_t size) {
    // Hostile headers may claim pictures of any size; stay well below the fuzzer's memory cap.
    SetBitmapStorageLimit(uint64_t{256} << 20);
    for (int depth : {0, 8, 32}) {
        CMemBitmap bitmap;
        try {
            Decoder decoder;
            decoder.DecodeMemory(data, size, bitmap, depth);
        } catch (const CTextException&) {
        }
    }
    CMemBitmap bitmap;
    try {
        CAutoDecoder decoder;
        decoder.DecodeMemory(data, size, bitmap, 32);
    } catch (const CTextException&) {
    }
    return 0;
}
