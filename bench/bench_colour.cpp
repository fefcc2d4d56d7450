// Colour conversion of a decoded photograph: FILE is decoded as stored (no conversion, no
// turn), tagged with an Adobe RGB (1998)-like matrix-shaper profile made by LittleCMS, and
// converted to sRGB RUNS times from a fresh copy each time. Prints the median milliseconds of
// a conversion with the transform already made (as for every photo after a camera's first),
// the milliseconds of the first one (making the transform included) and the cores used.
//
// usage: bench_colour FILE [RUNS]

#include "bench_timing.h"
#include "codecs/auto_decoder.h"
#include "imagelib/colour_management.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_profiles.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_colour FILE [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    CMemBitmap stored;
    try {
        CDecodeContext context;
        context.applyOrientation = false;
        context.colourManagement = false;
        CAutoDecoder().DecodeFile(argv[1], stored, context, 32);
    } catch (const CTextException& e) {
        std::fprintf(stderr, "%s: code %d: %s", argv[1], e.Code(), e.Text().c_str());
        return 1;
    }
    stored.Metadata().iccProfile = GammaRgbProfile({{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}}, 563.0 / 256);
    CMemBitmap picture;
    std::vector<double> times;
    double first = 0;
    for (int run = 0; run <= runs; ++run) {
        picture.CopyFrom(stored, 0);
        const double ms = Milliseconds([&] { ConvertColours(picture); });
        if (run == 0)
            first = ms;
        else
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f %.3f %u\n", times[times.size() / 2], first, std::max(1u, std::thread::hardware_concurrency()));
    return 0;
}
