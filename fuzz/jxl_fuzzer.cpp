#include "codecs/jxl_animation.h"
#include "codecs/jxl_decoder.h"
#include "fuzz_support.h"

#include "imagelib/mem_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDecoder<CJXLDecoder>(data, size);
    // Every frame of an animation, twice, as a player loops it.
    try {
        CDecodeContext context;
        const std::unique_ptr<CAnimationReader> reader = OpenJXLAnimation(std::vector<uint8_t>(data, data + size), context);
        for (int round = 0; round < 2; ++round) {
            CMemBitmap frame;
            while (reader->ReadFrame(frame) >= 0) {
            }
            reader->Rewind();
        }
    } catch (const CTextException&) {
    }
    return 0;
}
