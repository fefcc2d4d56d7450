// Turning the picture shown (Edit > Rotate Left/Right, Flip): the turned copy of a
// 24-megapixel 32-bit picture (6000 x 4000) the window waits for, beside a memcpy of the same
// pixels between two buffers already in memory, taking turns round after round so that a
// busy machine slows both alike. Prints the medians in milliseconds and their ratios.
//
// usage: bench_picture_turn [ROUNDS]

#include "bench_pattern.h"
#include "bench_timing.h"
#include "imagelib/dib_section_bitmap.h"
#include "viewer/picture_turn.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    constexpr int kWidth = 6000;
    constexpr int kHeight = 4000;
    CDIBSectionBitmap picture;
    picture.Create(kWidth, kHeight, 32, false);
    FillWithPattern(picture, kWidth, kHeight);
    const size_t bytes = size_t{kWidth} * kHeight * 4;
    CMemcpyBaseline baseline(bytes);

    std::vector<double> copies;
    std::vector<double> rotations;
    std::vector<double> flips;
    for (int round = 0; round < rounds; ++round) {
        copies.push_back(baseline.Time());
        rotations.push_back(Milliseconds([&] {
            TurnedPicture(picture, round % 2 ? PictureTurn::RotateLeft : PictureTurn::RotateRight);
        }));
        flips.push_back(Milliseconds([&] {
            TurnedPicture(picture, round % 2 ? PictureTurn::FlipVertically : PictureTurn::FlipHorizontally);
        }));
    }
    const double copy = Median(copies);
    const double rotation = Median(rotations);
    const double flip = Median(flips);
    std::printf("memcpy of 96 MB:       %7.1f ms\n", copy);
    std::printf("quarter turn, 24 MP:   %7.1f ms  (%.1f x memcpy)\n", rotation, rotation / copy);
    std::printf("flip, 24 MP:           %7.1f ms  (%.1f x memcpy)\n", flip, flip / copy);
    return 0;
}
