#include "codecs/metafile_decoder.h"
#include "fuzz_support.h"
#include "imagelib/byte_source.h"

// Every input is played both as an enhanced and as a 16-bit metafile: the data source's
// name decides the kind, so the source is named as a file of each kind would be.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small pictures keep each run short; the player's limits do not depend on the size.
    SetBitmapStorageLimit(uint64_t{32} << 20);
    for (const char* name : {"input.emf", "input.wmf"}) {
        CMemBitmap bitmap;
        CMemoryBlockSource source;
        source.Open(data, size);
        source.Prepare(name, size);
        try {
            CMetafileDecoder decoder;
            int depth = 0;
            decoder.DecodeSource(source, bitmap, depth);
        } catch (const CTextException&) {
        }
    }
    return 0;
}
