#include "codecs/metafile_decoder.h"
#include "fuzz_support.h"

// The content decides the kind: an input with an enhanced metafile's header record plays as
// one, every other input as a 16-bit metafile.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small pictures keep each run short; the player's limits do not depend on the size.
    SetBitmapStorageLimit(uint64_t{32} << 20);
    CMemBitmap bitmap;
    try {
        CMetafileDecoder().DecodeMemory(data, size, bitmap, 0);
    } catch (const CTextException&) {
    }
    return 0;
}
