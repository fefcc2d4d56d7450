#include "viewer/display_layout.h"


#include <algorithm>

namespace {

int Centre(int client, int size) { return std::max((client - size) / 2, 0); }

}  // namespace

DisplayLayout ComputeDisplayLayout(QSize picture, QSize client, DisplayMode mode) {
    const int W = picture.width();
    const int H = picture.height();
    const int cw = client.width();
    const int ch = client.height();
    const QRect natural(Centre(cw, W), Centre(ch, H), W, H);
    DisplayLayout layout;

    switch (mode.GetKind()) {
    case DisplayMode::Kind::Natural:
        layout.target = natural;
        layout.scrollSize = picture;
        break;
    case DisplayMode::Kind::StretchToFill:
        layout.target = QRect(0, 0, cw, ch);
        layout.scrollSize = client;
        break;
    case DisplayMode::Kind::Proportional: {
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
    case DisplayMode::Kind::Tile:
        if (cw < W && ch < H) {
            layout.target = natural;
            layout.scrollSize = picture;
        } else {
            layout.target = QRect(0, 0, W, H);
            layout.tiled = W > 0 && H > 0;
            layout.scrollSize = client;
        }
        break;
    case DisplayMode::Kind::Zoom: {
        const float f = 100.0f / static_cast<float>(mode.ZoomPercent());
        const int w = static_cast<int>(static_cast<float>(W) / f);
        const int h = static_cast<int>(static_cast<float>(H) / f);
        layout.target = QRect(Centre(cw, w), Centre(ch, h), w, h);
        layout.scrollSize = QSize(w, h);
        break;
    }
    }
    return layout;
}

DisplayMode ZoomStep(DisplayMode mode, float factor) {
    if (mode.GetKind() != DisplayMode::Kind::Natural && !mode.IsZoom()) return DisplayMode::Natural();
    // The exact product of the integer and the single-precision factor.
    const int result = static_cast<int>(static_cast<double>(mode.ZoomPercent()) * static_cast<double>(factor));
    return (result > 75 && result < 125) ? DisplayMode::Natural() : DisplayMode::Zoom(result);
}

bool CanZoomIn(DisplayMode mode) { return !mode.IsZoom() || mode.ZoomPercent() <= 400; }

bool CanZoomOut(DisplayMode mode) { return !mode.IsZoom() || mode.ZoomPercent() < 10 || mode.ZoomPercent() >= 30; }
