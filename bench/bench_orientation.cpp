// A quarter turn of a 24-megapixel 32-bit picture (6000 x 4000) by ApplyOrientation, beside
// a memcpy of the same pixels between two buffers already in memory, taking turns round after
// round so that a busy machine slows both alike. Prints the medians in milliseconds and
// their ratio.
//
// usage: bench_orientation [ROUNDS]

#include "bench_pattern.h"
#include "bench_timing.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/orientation.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    constexpr int kWidth = 6000;
    constexpr int kHeight = 4000;
    CMemBitmap picture;
    picture.Create(kWidth, kHeight, 32, false);
    FillWithPattern(picture, kWidth, kHeight);
    const size_t bytes = size_t{kWidth} * kHeight * 4;
    CMemcpyBaseline baseline(bytes);

    std::vector<double> copies;
    std::vector<double> turns;
    for (int round = 0; round < rounds; ++round) {
        copies.push_back(baseline.Time());
        // Turned right and left in turn, so the picture alternates between its two shapes.
        picture.Metadata().orientation = round % 2 ? 8 : 6;
        turns.push_back(Milliseconds([&] { ApplyOrientation(picture); }));
    }
    const double copy = Median(copies);
    const double turn = Median(turns);
    std::printf("quarter turn of %d x %d at 32 bits: %.1f ms; memcpy of its %zu MB: %.1f ms; "
                "turn/memcpy = %.2fx   (target: at most 2.50x)\n",
                kWidth, kHeight, turn, bytes >> 20, copy, turn / copy);
    return 0;
}
