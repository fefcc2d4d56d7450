#include "codecs/avif_animation.h"
#include "codecs/avif_decoder.h"
#include "fuzz_support.h"

#include "imagelib/mem_bitmap.h"

#include <memory>
#include <vector>

// The still decode, then every frame through the animation reader, twice round.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDecoder<CAVIFDecoder>(data, size);
    try {
        const std::unique_ptr<CAnimationReader> reader =
            OpenAvifAnimation(std::vector<uint8_t>(data, data + size), CDecodeContext());
        for (int pass = 0; pass < 2; ++pass) {
            CMemBitmap frame;
            while (reader->ReadFrame(frame) >= 0) {
            }
            reader->Rewind();
        }
    } catch (const CTextException&) {
    }
    return 0;
}
