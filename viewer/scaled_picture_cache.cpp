#include "viewer/scaled_picture_cache.h"

namespace {

constexpr QRgb kAlpha = 0xFF000000u;

bool IsOpaque(const QImage& picture) {
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        QRgb all = kAlpha;
        for (int x = 0; x < picture.width(); ++x) all &= row[x];
        if (all != kAlpha) return false;
    }
    return true;
}

QImage MadeOpaque(const QImage& picture) {
    QImage opaque = picture.copy();
    for (int y = 0; y < opaque.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(opaque.scanLine(y));
        for (int x = 0; x < opaque.width(); ++x) row[x] |= kAlpha;
    }
    return opaque;
}

}  // namespace

const QImage& CScaledPictureCache::Opaque(const QImage& picture) {
    if (picture.cacheKey() == pictureKey_) return opaque_;
    Clear();
    pictureKey_ = picture.cacheKey();
    const bool rgb32 = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32;
    opaque_ = rgb32 && !IsOpaque(picture) ? MadeOpaque(picture) : picture;
    return opaque_;
}

const QImage& CScaledPictureCache::Scaled(const QImage& picture, QSize size) {
    const QImage& opaque = Opaque(picture);
    if (size == size_) return scaled_;
    size_ = size;
    scaled_ = QImage();
    if (!size.isEmpty() && qint64{size.width()} * size.height() <= kLargestCachedPixels)
        scaled_ = opaque.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return scaled_;
}

void CScaledPictureCache::Clear() {
    pictureKey_ = 0;
    opaque_ = QImage();
    size_ = QSize();
    scaled_ = QImage();
}
