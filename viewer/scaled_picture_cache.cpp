#include "viewer/scaled_picture_cache.h"

const QImage& CScaledPictureCache::Scaled(const QImage& picture, QSize size) {
    if (picture.cacheKey() == pictureKey_ && size == size_) return scaled_;
    scaled_ = QImage();
    pictureKey_ = picture.cacheKey();
    size_ = size;
    if (!size.isEmpty() && qint64{size.width()} * size.height() <= kLargestCachedPixels)
        scaled_ = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return scaled_;
}

void CScaledPictureCache::Clear() {
    pictureKey_ = 0;
    size_ = QSize();
    scaled_ = QImage();
}
