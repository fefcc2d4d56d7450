#pragma once

// GIF files written with giflib's own encoder for the GIF tests: images given pixel by pixel,
// with the graphic control extension and the looping extension where asked.

#include <gif_lib.h>

#include <cstdint>
#include <functional>
#include <vector>

using GifMap = std::vector<GifColorType>;

struct GifImage {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    GifMap localMap;
    std::function<int(int x, int y)> pixel;
    // A graphic control extension is written before the image when any of these is set.
    int transparentIndex = -1;
    int disposal = 0;
    int delayCentiseconds = 0;
};

// repeats >= 0 writes a NETSCAPE2.0 extension with that count (0: for ever).
std::vector<uint8_t> EncodeGif(int width, int height, int background, const GifMap& globalMap,
                               const std::vector<GifImage>& images, int repeats = -1);
