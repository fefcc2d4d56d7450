#pragma once

#include <QImage>
#include <QSize>

// The pictures the view draws, prepared once per image: the picture made opaque (a copy
// only when some alpha byte is not 255, since the view ignores alpha as a block copy does)
// and that picture smoothly scaled to the size shown, kept until the image or the size
// changes, so that a repaint is a single copy.
class CScaledPictureCache {
public:
    // Scaled copies larger than this are not kept (a deep zoom of a large picture); the
    // view then scales only the part it paints.
    static constexpr qint64 kLargestCachedPixels = qint64{32} * 1024 * 1024;

    // The picture with every alpha byte 255.
    const QImage& Opaque(const QImage& picture);
    // The opaque picture scaled to size; a null image when such a copy is too large to keep.
    const QImage& Scaled(const QImage& picture, QSize size);
    void Clear();

private:
    qint64 pictureKey_ = 0;
    QImage opaque_;
    QSize size_;
    QImage scaled_;
};
