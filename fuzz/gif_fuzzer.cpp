#include "codecs/gif_animation.h"
#include "codecs/gif_decoder.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDecoder<CGIFDecoder>(data, size);
    return FuzzAnimation(OpenGifAnimation, data, size);
}
