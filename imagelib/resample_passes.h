#pragma once

#include <cstddef>
#include <cstdint>

// The inner loops of the resampler, over 32-bit pixels whose four bytes are resampled
// independently. Each channel is the sum, in double precision and in the order of the taps,
// of weight times source byte, stored as (int)(sum + 0.5).

// The source samples that contribute to one destination sample: count samples from first on.
struct SampleTaps {
    int first;
    int count;
    const double* weights;
};

// Horizontal pass: row y of the output (width outWidth, rows outStride bytes apart) from
// the source row sourceLines[y] of sourceWidth pixels, for rows 0 to height - 1.
void ResampleRows(const uint8_t* const* sourceLines, int sourceWidth, int height, const SampleTaps* taps, int outWidth,
                  uint8_t* out, size_t outStride);

// Vertical pass: output row y (outLines[y], width pixels) from the rows of source, which lie
// sourceStride bytes apart, for rows 0 to outHeight - 1.
void ResampleColumns(const uint8_t* source, size_t sourceStride, int width, const SampleTaps* taps, int outHeight,
                     uint8_t* const* outLines);
