#include "codecs/jpeg_decoder.h"
#include "codecs/pict_decoder.h"
#include "fuzz_support.h"

// The JPEG decoder is given as the any-format decoder gives it, so QuickTime opcodes are reached.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CJPEGDecoder jpeg;
    return FuzzDecoder<CPICTDecoder>(data, size, &jpeg);
}
