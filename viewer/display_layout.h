#pragma once

#include <QRect>
#include <QSize>

// The display modes StretchState names; values from 9 up are zoom percentages.
enum StretchMode : int {
    STRETCH_NATURAL = 0,
    STRETCH_FILL = 1,
    STRETCH_PROPORTIONAL = 2,
    STRETCH_TILE = 3,
};

// Where the image view puts the picture for each value of StretchState, in the view's
// content coordinates (before scrolling), and how far its content scrolls.
struct DisplayLayout {
    // The picture scaled (or not) into target; a tiled layout repeats it at natural size
    // from the origin over the whole client instead.
    QRect target;
    bool tiled = false;
    QSize scrollSize;
};

// W x H picture in a client of the given size.
DisplayLayout ComputeDisplayLayout(QSize picture, QSize client, int stretchState);

// True for the values StretchState can hold: the four modes and zoom percentages.
bool IsValidStretchState(int stretchState);

// The zoom steps. The factors are single-precision constants, so the true factors lie
// slightly below 1.3 and 0.7 and the sequences are 129, 167, ..., 475 and 69, 48, 33, 23.
inline constexpr float kZoomInFactor = 1.3f;
inline constexpr float kZoomOutFactor = 0.7f;
// StretchState after one zoom step from stretchState: a stretch or tile mode returns to
// natural size; a result between 75 and 125 percent snaps to natural size.
int ZoomStep(int stretchState, float factor);
bool CanZoomIn(int stretchState);
bool CanZoomOut(int stretchState);
