#pragma once

#include <QImage>
#include <QColor>
#include <QSize>

// The picture (32 bits, its alpha straight) laid over background, or over the light grey
// checkerboard the view shows transparency on when background is invalid.
QImage FlattenedPicture(const QImage& picture, QColor background = QColor());

// The pictures the view draws, prepared once per image: the picture made opaque and that
// picture smoothly scaled to the size shown, kept until the image or the size changes, so
// that a repaint is a single copy. A picture with transparency (as its decoder says) is
// laid over a checkerboard, as viewers show transparency, or over a plain background when
// one is given; any other picture is drawn as it is, its alpha bytes 255 (the document's
// decodes make them so).
class CScaledPictureCache {
public:
    // Scaled copies larger than this are not kept (a deep zoom of a large picture); the
    // view then scales only the part it paints.
    static constexpr qint64 kLargestCachedPixels = qint64{32} * 1024 * 1024;

    static constexpr int kCheckerSquare = 8;

    // The picture as it is, or, transparent, laid over background (the checkerboard when
    // background is invalid).
    const QImage& Opaque(const QImage& picture, bool transparent, QColor background = QColor());
    // The opaque picture scaled to size; a null image when such a copy is too large to keep.
    const QImage& Scaled(const QImage& picture, bool transparent, QSize size, QColor background = QColor());
    void Clear();

private:
    qint64 pictureKey_ = 0;
    QColor background_;
    QImage opaque_;
    QSize size_;
    QImage scaled_;
};
