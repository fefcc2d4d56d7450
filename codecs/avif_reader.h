#pragma once

#include <avif/avif.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CImageBitmap;

// One AVIF file (a still picture or an image sequence) opened through libavif 0.11 with
// dav1d: the container parsed on construction, frames decoded on request into 32-bit
// bitmaps. The AVIF decoder reads its first frame and the AVIF animation reader every frame.
//
// Samples of 10 and 12 bits are reduced to 8 by rounding, (v * 255 + max / 2) / max; libyuv,
// which libavif uses for a direct 8-bit conversion, truncates them. Premultiplied alpha is
// un-premultiplied by libavif. The irot and imir properties, which libavif reports without
// applying, become the picture's Exif orientation so that the decode's finish step turns it
// once; an Exif block inside the file is not read (the container's properties rule).
// CICP colours are shown as decoded; an ICC profile goes to the metadata.
//
// Corruption policy. Code 11: data that ends before a box or a frame does. Code 10: a
// picture whose bitmap would exceed the storage limit (libavif's size and dimension limits
// are set from it, and the container's size is checked before any pixel is decoded),
// libavif's allocation failures. Code 6: a coding libavif cannot decode. Code 2 with
// libavif's message: every other damage. Tolerated: files that break the format's
// stricter rules libavif can check but that decode (a missing pixi box, a clap box out of
// bounds), as other readers tolerate them.
class CAvifReader {
public:
    // Parses data, which must outlive the reader, under the active decode context's limits.
    explicit CAvifReader(std::span<const uint8_t> data);
    ~CAvifReader();
    CAvifReader(const CAvifReader&) = delete;
    CAvifReader& operator=(const CAvifReader&) = delete;

    int Width() const { return static_cast<int>(decoder_->image->width); }
    int Height() const { return static_cast<int>(decoder_->image->height); }
    int BitsPerSample() const { return static_cast<int>(decoder_->image->depth); }
    // Colour channels as stored (1 for 4:0:0, else 3), without alpha.
    int ColourChannels() const;
    bool HasAlpha() const { return decoder_->alphaPresent != AVIF_FALSE; }
    int FrameCount() const { return decoder_->imageCount; }
    // The Exif orientation 1 to 8 equal to the file's irot and imir properties.
    int Orientation() const;
    std::vector<uint8_t> IccProfile() const;

    // Decodes frame index into bitmap at 32 bits with its metadata (orientation, profile,
    // frame count) and returns how long the frame shows in seconds (0 for a still picture).
    // Frames are decoded fastest in order.
    double DecodeFrame(int index, CImageBitmap& bitmap);
    // Forgets the decoded frames, so that frame 0 is decoded next.
    void Restart();

private:
    struct DecoderDeleter {
        void operator()(avifDecoder* decoder) const noexcept { avifDecoderDestroy(decoder); }
    };
    std::unique_ptr<avifDecoder, DecoderDeleter> decoder_;
};

// The Exif orientation equal to HEIF's rotation (irot: angle x 90 degrees anti-clockwise,
// applied first) followed by its mirroring (imir mode 0: top and bottom exchanged, mode 1:
// left and right), as libavif 0.11 names them.
int OrientationOfRotationAndMirror(bool rotates, int angle, bool mirrors, int mode);
