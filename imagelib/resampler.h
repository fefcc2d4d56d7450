#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CImageBitmap;

// Which source samples make up each destination sample of one pass, and with what
// weights: destination sample i is the weighted sum of source samples left[i] to right[i],
// sample k weighing weights[i * windowSize + k - left[i]].
struct ContributionList {
    int64_t windowSize = 0;
    int count = 0;
    std::vector<int> left;
    std::vector<int> right;
    std::vector<double> weights;

    const double* WeightsOf(int i) const { return weights.data() + static_cast<size_t>(i) * static_cast<size_t>(windowSize); }
};

// The working object of one resize: a separable resampler with a triangle kernel of width
// 1. The horizontal pass writes an intermediate image of the source's height and the new
// width, the vertical pass the destination; both round each channel to the nearest integer
// (halves up). Weights are computed once per pass and reused for every row or column.
class CResampler {
public:
    virtual ~CResampler() = default;

    // Resamples the 32-bit source into the 32-bit destination at the destination's size.
    // A pass whose weights or intermediate image would exceed the bitmap storage limit is
    // refused with code 10.
    void Resample(CImageBitmap& source, CImageBitmap& destination) const;

    // The contributions for count destination samples taken from n source samples.
    ContributionList Contributions(int count, int n) const;

private:
    double kernelWidth_ = 1.0;
};
