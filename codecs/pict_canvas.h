#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRegion>

class CImageBitmap;

// A whole QuickDraw picture drawn at once: a white canvas (QuickDraw's background) of the
// picture frame's shape, scale pixels to a picture unit, on which bitmaps are placed and
// shapes drawn in picture coordinates.
class PictCanvas {
public:
    // Throws CTextException code 10 when the canvas would exceed the bitmap storage limit.
    PictCanvas(const QRect& frame, double scale);
    PictCanvas(const PictCanvas&) = delete;
    PictCanvas& operator=(const PictCanvas&) = delete;

    // Draws with picture coordinates; its clip is the picture's clip region.
    QPainter& Painter() { return painter_; }

    // Places the source rectangle of image (in the image's pixels) over destination (picture
    // coordinates), scaled to fit, inside mask when one is given. Images whose white is
    // transparent leave what lies below their white pixels.
    void DrawImage(QImage image, const QRectF& source, const QRectF& destination, const QRegion* mask,
                   bool whiteIsTransparent);

    // Ends drawing and copies the canvas into a 32-bit bitmap.
    void CopyTo(CImageBitmap& bitmap);

private:
    QImage image_;
    QPainter painter_;
};
