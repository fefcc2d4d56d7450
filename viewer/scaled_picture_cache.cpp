#include "viewer/scaled_picture_cache.h"

#include <QPainter>

QImage FlattenedPicture(const QImage& picture, QColor background) {
    QImage flat(picture.size(), QImage::Format_RGB32);
    if (background.isValid()) {
        flat.fill(background);
    } else {
        const int side = CScaledPictureCache::kCheckerSquare;
        for (int y = 0; y < flat.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(flat.scanLine(y));
            for (int x = 0; x < flat.width(); ++x) row[x] = ((x / side + y / side) & 1) ? 0xFFCCCCCCu : 0xFFFFFFFFu;
        }
    }
    // The same rows read with their alpha, which the window-system format leaves out.
    const QImage straight(picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine(),
                          QImage::Format_ARGB32);
    QPainter painter(&flat);
    painter.drawImage(0, 0, straight);
    return flat;
}

const QImage& CScaledPictureCache::Opaque(const QImage& picture, bool transparent, QColor background) {
    if (picture.cacheKey() == pictureKey_ && background == background_) return opaque_;
    Clear();
    pictureKey_ = picture.cacheKey();
    background_ = background;
    const bool rgb32 = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32;
    opaque_ = rgb32 && transparent ? FlattenedPicture(picture, background) : picture;
    return opaque_;
}

const QImage& CScaledPictureCache::Scaled(const QImage& picture, bool transparent, QSize size, QColor background) {
    const QImage& opaque = Opaque(picture, transparent, background);
    if (size == size_) return scaled_;
    size_ = size;
    scaled_ = QImage();
    if (!size.isEmpty() && qint64{size.width()} * size.height() <= kLargestCachedPixels)
        scaled_ = opaque.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return scaled_;
}

void CScaledPictureCache::Clear() {
    pictureKey_ = 0;
    background_ = QColor();
    opaque_ = QImage();
    size_ = QSize();
    scaled_ = QImage();
}
