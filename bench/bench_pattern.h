#pragma once

#include <cstdint>

// Fills a 32-bit picture with a pattern that neither repeats nor compresses, so that its
// pixels cost what a photograph's do.
template <typename Bitmap>
void FillWithPattern(Bitmap& picture, int width, int height) {
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(picture.Line(y));
        for (int x = 0; x < width; ++x) row[x] = static_cast<uint32_t>(x * 2654435761u ^ y * 40503u);
    }
}
