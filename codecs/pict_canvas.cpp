#include "pict_canvas.h"

#include "imagelib/image_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

QImage WhiteCanvas(const QRect& frame, double scale) {
    const double width = std::max(1.0, std::round(frame.width() * scale));
    const double height = std::max(1.0, std::round(frame.height() * scale));
    if (width > INT32_MAX / 4 || height > INT32_MAX / 4)
        RaiseError(ERR_OUT_OF_MEMORY, "Cannot allocate memory bitmap.");
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    CheckBitmapStorage(w, h, 32, PaddedLineBytes(w, 32));
    CWorkBudget::GrantPixels(static_cast<uint64_t>(w) * static_cast<uint64_t>(h));
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) RaiseError(ERR_OUT_OF_MEMORY, "Cannot allocate memory bitmap.");
    image.fill(Qt::white);
    return image;
}

}  // namespace

PictCanvas::PictCanvas(const QRect& frame, double scale) : image_(WhiteCanvas(frame, scale)), painter_(&image_) {
    // Scaled by the canvas's true ratio so that rounding its size leaves no stray border.
    const double sx = frame.width() > 0 ? image_.width() / static_cast<double>(frame.width()) : scale;
    const double sy = frame.height() > 0 ? image_.height() / static_cast<double>(frame.height()) : scale;
    painter_.scale(sx, sy);
    painter_.translate(-frame.left(), -frame.top());
    painter_.setClipRect(frame);
}

void PictCanvas::DrawImage(QImage image, const QRectF& source, const QRectF& destination, const QRegion* mask,
                           bool whiteIsTransparent) {
    if (whiteIsTransparent) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((row[x] & 0xFFFFFF) == 0xFFFFFF) row[x] = 0;
        }
    }
    painter_.save();
    if (mask != nullptr) painter_.setClipRegion(*mask, Qt::IntersectClip);
    const QTransform& t = painter_.worldTransform();
    // Smooth filtering only where the image is actually resized on the canvas.
    const bool resized = std::abs(destination.width() * t.m11() - source.width()) > 0.5 ||
                         std::abs(destination.height() * t.m22() - source.height()) > 0.5;
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, resized);
    painter_.drawImage(destination, image, source);
    painter_.restore();
}

void PictCanvas::CopyTo(CImageBitmap& bitmap) {
    painter_.end();
    const int width = image_.width();
    const int height = image_.height();
    bitmap.Create(width, height, 32, false);
    for (int y = 0; y < height; ++y) {
        CWorkBudget::ChargeRow(static_cast<uint64_t>(width) * 4);
        std::memcpy(static_cast<void*>(bitmap.PixelLine(y)), image_.constScanLine(y), static_cast<size_t>(width) * 4);
    }
}
