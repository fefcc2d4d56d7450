#include "codecs/webp_animation.h"
#include "codecs/webp_decoder.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDecoder<CWebPDecoder>(data, size);
    return FuzzAnimation(OpenWebPAnimation, data, size);
}
