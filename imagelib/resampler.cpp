#include "resampler.h"

#include "image_bitmap.h"
#include "resample_kernel.h"
#include "resample_passes.h"
#include "storage_limit.h"
#include "text_exception.h"

#include <cmath>
#include <memory>
#include <new>

namespace {

// Every destination sample's taps without the zero weights at either end of its window.
// Leaving them out changes no result: adding 0 x byte to a sum of non-negative terms
// leaves it exactly as it was.
std::vector<SampleTaps> TrimmedTaps(const ContributionList& list) {
    std::vector<SampleTaps> taps(static_cast<size_t>(list.count));
    for (int i = 0; i < list.count; ++i) {
        const double* weights = list.WeightsOf(i);
        int first = 0;
        int last = list.right[i] - list.left[i];
        while (first < last && weights[first] == 0.0) ++first;
        while (last > first && weights[last] == 0.0) --last;
        taps[static_cast<size_t>(i)] = SampleTaps{list.left[i] + first, last - first + 1, weights + first};
    }
    return taps;
}

}  // namespace

ContributionList CResampler::Contributions(int count, int n) const {
    const double scale = static_cast<double>(count) / n;
    double radius = kernelWidth_;
    double factor = 1.0;
    if (scale < 1.0) {
        // Reducing: the triangle widens to cover 1/scale source samples on either side.
        radius = kernelWidth_ / scale;
        factor = scale;
    }
    ContributionList list;
    list.count = count;
    list.windowSize = 2 * static_cast<int64_t>(std::ceil(radius)) + 1;
    const uint64_t cells = static_cast<uint64_t>(count) * static_cast<uint64_t>(list.windowSize);
    if (cells > BitmapStorageLimit() / sizeof(double))
        throw CTextException(ERR_OUT_OF_MEMORY, "The resampling weights would exceed the storage limit.");
    list.left.resize(static_cast<size_t>(count));
    list.right.resize(static_cast<size_t>(count));
    list.weights.assign(cells, 0.0);

    const CTriangleKernel kernel(kernelWidth_);
    for (int i = 0; i < count; ++i) {
        // No half-sample offset: destination sample 0 sits on source sample 0.
        const double centre = i / scale;
        auto left = static_cast<int64_t>(std::floor(centre - radius));
        if (left < 0) left = 0;
        auto right = static_cast<int64_t>(std::ceil(centre + radius));
        if (right >= n - 1) right = n - 1;
        if (right - left + 1 > list.windowSize) {
            if (left < n) {
                ++left;
            } else {
                --right;
            }
        }
        double* weights = list.weights.data() + static_cast<size_t>(i) * static_cast<size_t>(list.windowSize);
        double sum = 0.0;
        for (int64_t k = left; k <= right; ++k) {
            const double weight = factor * kernel.Evaluate((centre - static_cast<double>(k)) * factor);
            weights[k - left] = weight;
            sum += weight;
        }
        if (sum > 0.0)
            for (int64_t k = left; k <= right; ++k) weights[k - left] /= sum;
        list.left[static_cast<size_t>(i)] = static_cast<int>(left);
        list.right[static_cast<size_t>(i)] = static_cast<int>(right);
    }
    return list;
}

void CResampler::Resample(CImageBitmap& source, CImageBitmap& destination) const {
    const int width = source.Width();
    const int height = source.Height();
    const int newWidth = destination.Width();
    const int newHeight = destination.Height();
    const size_t stride = static_cast<size_t>(newWidth) * 4;
    CheckBitmapStorage(newWidth, height, 32, stride);
    CBitmapLock sourceLock(source, true, false);
    CBitmapLock destinationLock(destination, false, true);
    try {
        // The horizontal pass's output: the source's height at the new width.
        std::unique_ptr<uint8_t[]> intermediate(new uint8_t[static_cast<size_t>(height) * stride]);
        {
            const ContributionList list = Contributions(newWidth, width);
            const std::vector<SampleTaps> taps = TrimmedTaps(list);
            ResampleRows(source.Lines(), width, height, taps.data(), newWidth, intermediate.get(), stride);
        }
        const ContributionList list = Contributions(newHeight, height);
        const std::vector<SampleTaps> taps = TrimmedTaps(list);
        ResampleColumns(intermediate.get(), stride, newWidth, taps.data(), newHeight, destination.Lines());
    } catch (const std::bad_alloc&) {
        throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory resizing bitmap.");
    }
}
