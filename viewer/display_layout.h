#pragma once

#include "browser/display_mode.h"

#include <QRect>
#include <QSize>

// Where the image view puts the picture in each display mode, in the view's content
// coordinates (before scrolling), and how far its content scrolls.
struct DisplayLayout {
    // The picture scaled (or not) into target; a tiled layout repeats it at natural size
    // from the origin over the whole client instead.
    QRect target;
    bool tiled = false;
    QSize scrollSize;
};

// W x H picture in a client of the given size.
DisplayLayout ComputeDisplayLayout(QSize picture, QSize client, DisplayMode mode);

// The zoom steps. The factors are single-precision constants, so the true factors lie
// slightly below 1.3 and 0.7 and the sequences are 129, 167, ..., 475 and 69, 48, 33, 23.
inline constexpr float kZoomInFactor = 1.3f;
inline constexpr float kZoomOutFactor = 0.7f;
// The mode after one zoom step from mode: a stretch or tile mode returns to natural size;
// a result between 75 and 125 percent snaps to natural size.
DisplayMode ZoomStep(DisplayMode mode, float factor);
bool CanZoomIn(DisplayMode mode);
bool CanZoomOut(DisplayMode mode);
