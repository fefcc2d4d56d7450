#include "premultiplied_alpha.h"

#include <algorithm>

void Unpremultiply(BGRA* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        BGRA& p = pixels[i];
        if (p.a == 255 || p.a == 0) continue;
        const auto straight = [a = unsigned{p.a}](uint8_t c) {
            return static_cast<uint8_t>(std::min(255u, (c * 255u + a / 2) / a));
        };
        p.b = straight(p.b);
        p.g = straight(p.g);
        p.r = straight(p.r);
    }
}
