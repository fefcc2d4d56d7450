// Decode of a 12-megapixel lossy WebP into the library's 32-bit bitmap, beside libwebp's own
// decode of the same bytes to 8-bit RGBA (WebPDecodeRGBA), both on one thread, taking turns
// round after round so that a busy machine slows both alike.
//   bench_webp [ROUNDS]   prints: ours-ms libwebp-ms ratio
#include "bench_timing.h"

#include "codecs/webp_decoder.h"
#include "imagelib/mem_bitmap.h"

#include <webp/decode.h>
#include <webp/encode.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photograph-like picture: smooth colour waves with fine grain, which lossy coding neither
// erases nor blows up.
std::vector<uint8_t> Picture() {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    uint32_t seed = 7;
    size_t at = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double wave = std::sin(x * (0.004 + c * 0.001) + y * 0.003) * std::cos(y * (0.005 - c * 0.001) - x * 0.002);
                const int grain = static_cast<int>(seed >> 28) - 8;
                rgb[at++] = static_cast<uint8_t>(std::clamp(128 + static_cast<int>(wave * 100) + grain, 0, 255));
            }
    return rgb;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::vector<uint8_t> rgb = Picture();
    uint8_t* encoded = nullptr;
    const size_t size = WebPEncodeRGB(rgb.data(), kWidth, kHeight, kWidth * 3, 80, &encoded);
    if (size == 0) return 1;
    std::vector<double> ours, library;
    CWebPDecoder decoder;
    for (int round = 0; round < rounds; ++round) {
        // A fresh bitmap each time, as libwebp allocates its buffer each time.
        ours.push_back(Milliseconds([&] {
            CMemBitmap bitmap;
            decoder.DecodeMemory(encoded, size, bitmap, 32);
        }));
        library.push_back(Milliseconds([&] {
            int width = 0, height = 0;
            uint8_t* pixels = WebPDecodeRGBA(encoded, size, &width, &height);
            WebPFree(pixels);
        }));
    }
    WebPFree(encoded);
    const double a = Median(ours), b = Median(library);
    std::printf("%.1f %.1f %.3f\n", a, b, a / b);
    return 0;
}
