#pragma once

#include <QImage>
#include <QSize>

// The current picture smoothly scaled to the size the view shows it at, kept until the
// picture or the size changes, so that a repaint is a single copy.
class CScaledPictureCache {
public:
    // Scaled copies larger than this are not kept (a deep zoom of a large picture); the
    // view then scales only the part it paints.
    static constexpr qint64 kLargestCachedPixels = qint64{32} * 1024 * 1024;

    // The picture scaled to size; a null image when such a copy is too large to keep.
    const QImage& Scaled(const QImage& picture, QSize size);
    void Clear();

private:
    qint64 pictureKey_ = 0;
    QSize size_;
    QImage scaled_;
};
