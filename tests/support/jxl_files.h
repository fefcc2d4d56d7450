#pragma once

#include <cstdint>
#include <vector>

// JPEG XL files written with libjxl's own encoder, for the tests and the benchmark.
struct JxlPicture {
    int width = 0;
    int height = 0;
    int channels = 3;  // 3: RGB, 4: RGBA
    int bits = 8;      // bits per sample: 8 or 16
    // One entry per frame: interleaved samples, row after row from the top.
    std::vector<std::vector<uint16_t>> frames;
};

struct JxlWriting {
    bool lossless = true;
    float distance = 1.0f;  // lossy quality: 1 is visually lossless
    bool container = false;
    int orientation = 1;
    bool linear = false;  // sRGB primaries with a linear tone curve instead of sRGB's
    int effort = 3;
    int threads = 2;
    // An animation: ticks per second (0: a still picture), loops, and each frame's ticks.
    uint32_t ticksPerSecond = 0;
    uint32_t loops = 0;
    std::vector<uint32_t> durations;
};

// The encoded file; fails the calling test when libjxl refuses.
std::vector<uint8_t> EncodeJxl(const JxlPicture& picture, const JxlWriting& writing = {});
