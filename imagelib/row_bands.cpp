#include "row_bands.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Beyond a few cores, bandwidth to memory limits these passes, not arithmetic.
constexpr int kMostBands = 8;

int BandCount(int rows, int64_t pixels) {
    if (pixels < kPixelsWorthSplitting || rows < 2) return 1;
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::min({cores, kMostBands, rows});
}

}  // namespace

void ForEachRowBand(int rows, int64_t pixels, const std::function<void(int, int)>& work) {
    const int bands = BandCount(rows, pixels);
    auto bandStart = [&](int band) { return static_cast<int>(int64_t{rows} * band / bands); };
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<size_t>(bands));
    for (int band = 1; band < bands; ++band) {
        const int first = bandStart(band);
        const int end = bandStart(band + 1);
        try {
            helpers.emplace_back([&work, first, end] { work(first, end); });
        } catch (const std::system_error&) {
            // No thread to be had: this band runs here.
            work(first, end);
        }
    }
    work(0, bandStart(1));
}
