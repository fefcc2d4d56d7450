#include "viewer/display_layout.h"


#include <algorithm>

namespace {

// Zoom values stay between 20 and 519 through the zoom steps; anything past this is damage.
constexpr int kLargestZoom = 1000;
constexpr int kSmallestZoom = 9;

int Centre(int client, int size) { return std::max((client - size) / 2, 0); }

}  // namespace

DisplayLayout ComputeDisplayLayout(QSize picture, QSize client, int stretchState) {
    const int W = picture.width();
    const int H = picture.height();
    const int cw = client.width();
    const int ch = client.height();
    const QRect natural(Centre(cw, W), Centre(ch, H), W, H);
    DisplayLayout layout;

    switch (stretchState) {
    case STRETCH_NATURAL:
        layout.target = natural;
        layout.scrollSize = picture;
        break;
    case STRETCH_FILL:
        layout.target = QRect(0, 0, cw, ch);
        layout.scrollSize = client;
        break;
    case STRETCH_PROPORTIONAL: {
        layout.scrollSize = client;
        if (cw <= 0 || ch <= 0 || W <= 0 || H <= 0) break;
        const float wr = static_cast<float>(W) / static_cast<float>(cw);
        const float hr = static_cast<float>(H) / static_cast<float>(ch);
        if (hr > wr) {
            const int w = static_cast<int>(static_cast<float>(W) / hr);
            layout.target = QRect((cw - w) / 2, 0, w, ch);
        } else {
            const int h = static_cast<int>(static_cast<float>(H) / wr);
            layout.target = QRect(0, (ch - h) / 2, cw, h);
        }
        break;
    }
    case STRETCH_TILE:
        if (cw < W && ch < H) {
            layout.target = natural;
            layout.scrollSize = picture;
        } else {
            layout.target = QRect(0, 0, W, H);
            layout.tiled = W > 0 && H > 0;
            layout.scrollSize = client;
        }
        break;
    default: {
        const float f = 100.0f / static_cast<float>(stretchState);
        const int w = static_cast<int>(static_cast<float>(W) / f);
        const int h = static_cast<int>(static_cast<float>(H) / f);
        layout.target = QRect(Centre(cw, w), Centre(ch, h), w, h);
        layout.scrollSize = QSize(w, h);
        break;
    }
    }
    return layout;
}

bool IsValidStretchState(int stretchState) {
    return (stretchState >= STRETCH_NATURAL && stretchState <= STRETCH_TILE) ||
           (stretchState >= kSmallestZoom && stretchState <= kLargestZoom);
}

int ZoomStep(int stretchState, float factor) {
    if (stretchState >= 1 && stretchState <= 8) return STRETCH_NATURAL;
    const int base = stretchState == STRETCH_NATURAL ? 100 : stretchState;
    // The exact product of the integer and the single-precision factor.
    const int result = static_cast<int>(static_cast<double>(base) * static_cast<double>(factor));
    return (result > 75 && result < 125) ? STRETCH_NATURAL : result;
}

bool CanZoomIn(int stretchState) { return stretchState <= 400; }

bool CanZoomOut(int stretchState) { return stretchState < 10 || stretchState >= 30; }
