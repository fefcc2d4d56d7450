#include "resample_passes.h"

#include <cstring>
#include <vector>

// Both passes are built twice, for AVX2 and for the baseline instruction set, and the
// loader picks the one the processor runs. The arithmetic is the same in both: the four
// channels of a pixel sit in one vector of doubles, and every multiply and add is a plain
// IEEE double operation (no fused multiply-add), in tap order, so the results do not depend
// on the build.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VT_RESAMPLE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VT_RESAMPLE_CLONES
#endif

// The helpers below pass 32-byte vectors by value; they are always inlined, so the calling
// convention GCC warns about never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using Channels = double __attribute__((vector_size(32)));
// The same in a buffer of doubles, which is only sure to be 8-byte aligned.
using StoredChannels = double __attribute__((vector_size(32), aligned(8)));
using ChannelInts = int32_t __attribute__((vector_size(16)));
using ChannelBytes = uint8_t __attribute__((vector_size(16)));

// Written as whole-vector operations (broadcast, shift, mask; shuffle) so that the AVX2
// build needs a handful of instructions per pixel instead of one per channel.
[[gnu::always_inline]] inline Channels Load(const uint8_t* pixel) {
    uint32_t word;
    std::memcpy(&word, pixel, sizeof word);
    const ChannelInts channels = ((ChannelInts{} + static_cast<int32_t>(word)) >> ChannelInts{0, 8, 16, 24}) & 0xFF;
    return __builtin_convertvector(channels, Channels);
}

// (int)(sum + 0.5) per channel: the conversion truncates toward zero. Sums of non-negative
// weights adding up to 1 stay within 0..255, so keeping the low byte of each is exact.
[[gnu::always_inline]] inline void Store(uint8_t* pixel, Channels sum) {
    const ChannelInts rounded = __builtin_convertvector(sum + 0.5, ChannelInts);
    const auto& lanes = reinterpret_cast<const ChannelBytes&>(rounded);
#if defined(__clang__)
    // clang (the fuzz build) spells GCC's one-vector shuffle this way.
    const ChannelBytes bytes = __builtin_shufflevector(lanes, lanes, 0, 4, 8, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
#else
    const ChannelBytes bytes = __builtin_shuffle(lanes, ChannelBytes{0, 4, 8, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
#endif
    std::memcpy(pixel, &bytes, 4);
}

[[gnu::always_inline]] inline Channels Sum(const uint8_t* first, size_t step, const SampleTaps& taps) {
    Channels sum{};
    for (int k = 0; k < taps.count; ++k, first += step) sum += Load(first) * taps.weights[k];
    return sum;
}

}  // namespace

VT_RESAMPLE_CLONES
void ResampleRows(const uint8_t* const* sourceLines, int sourceWidth, int height, const SampleTaps* taps, int outWidth,
                  uint8_t* out, size_t outStride) {
    // Four rows at once, converted to doubles first and interleaved pixel by pixel: every
    // source pixel is converted once however many windows it falls into, each tap reads one
    // contiguous run of memory, and four independent sums keep the adder busy.
    std::vector<double> buffer(16 * static_cast<size_t>(sourceWidth));
    auto* converted = reinterpret_cast<StoredChannels*>(buffer.data());
    int y = 0;
    for (; y + 4 <= height; y += 4) {
        for (int x = 0; x < sourceWidth; ++x)
            for (int r = 0; r < 4; ++r) converted[4 * static_cast<size_t>(x) + r] = Load(sourceLines[y + r] + 4 * static_cast<size_t>(x));
        uint8_t* out0 = out + static_cast<size_t>(y) * outStride;
        for (int x = 0; x < outWidth; ++x) {
            const SampleTaps& t = taps[x];
            const StoredChannels* pixel = converted + 4 * static_cast<size_t>(t.first);
            Channels sum0{}, sum1{}, sum2{}, sum3{};
            for (int k = 0; k < t.count; ++k, pixel += 4) {
                const double weight = t.weights[k];
                sum0 += pixel[0] * weight;
                sum1 += pixel[1] * weight;
                sum2 += pixel[2] * weight;
                sum3 += pixel[3] * weight;
            }
            uint8_t* to = out0 + 4 * static_cast<size_t>(x);
            Store(to, sum0);
            Store(to + outStride, sum1);
            Store(to + 2 * outStride, sum2);
            Store(to + 3 * outStride, sum3);
        }
    }
    for (; y < height; ++y) {
        uint8_t* outRow = out + static_cast<size_t>(y) * outStride;
        for (int x = 0; x < outWidth; ++x)
            Store(outRow + 4 * static_cast<size_t>(x), Sum(sourceLines[y] + 4 * static_cast<size_t>(taps[x].first), 4, taps[x]));
    }
}

VT_RESAMPLE_CLONES
void ResampleColumns(const uint8_t* source, size_t sourceStride, int width, const SampleTaps* taps, int outHeight,
                     uint8_t* const* outLines) {
    constexpr int kBlock = 8;
    for (int y = 0; y < outHeight; ++y) {
        const SampleTaps& t = taps[y];
        uint8_t* outRow = outLines[y];
        const uint8_t* firstRow = source + static_cast<size_t>(t.first) * sourceStride;
        if (t.count == 1 && t.weights[0] == 1.0) {
            // One source row with weight 1: (int)(byte * 1.0 + 0.5) is the byte itself.
            std::memcpy(outRow, firstRow, 4 * static_cast<size_t>(width));
            continue;
        }
        int x = 0;
        // Eight pixels side by side: eight independent sums over the same weights.
        for (; x + kBlock <= width; x += kBlock) {
            Channels sums[kBlock] = {};
            const uint8_t* row = firstRow + 4 * static_cast<size_t>(x);
            for (int k = 0; k < t.count; ++k, row += sourceStride) {
                const double weight = t.weights[k];
#pragma GCC unroll 8
                for (int j = 0; j < kBlock; ++j) sums[j] += Load(row + 4 * j) * weight;
            }
#pragma GCC unroll 8
            for (int j = 0; j < kBlock; ++j) Store(outRow + 4 * static_cast<size_t>(x + j), sums[j]);
        }
        for (; x < width; ++x)
            Store(outRow + 4 * static_cast<size_t>(x), Sum(firstRow + 4 * static_cast<size_t>(x), sourceStride, t));
    }
}
