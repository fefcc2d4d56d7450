#pragma once

// Pictures and checks shared by the AVIF and HEIF decoder tests: source pictures as RGBA
// samples, their expected turns, PSNR against a decode, and byte patches of the container.

#include "imagelib/decode_context.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/mem_bitmap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A picture as an encoder takes it: RGBA samples of one bit depth, row after row.
struct SourcePicture {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> samples;  // 4 per pixel: red, green, blue, alpha

    uint16_t* At(int x, int y) { return samples.data() + (static_cast<size_t>(y) * width + x) * 4; }
    const uint16_t* At(int x, int y) const { return samples.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// A picture whose channels follow f(x, y, channel) for channel 0 to 3 (red, green, blue,
// alpha).
SourcePicture MakePicture(int width, int height, const std::function<int(int x, int y, int channel)>& f);

// Smooth colour ramps with some detail, alpha ramping from 0 to opaque when withAlpha
// (opaque otherwise), at 8 bits.
SourcePicture SmoothPicture(int width, int height, bool withAlpha);

// The picture turned anti-clockwise by quarterTurns quarter turns, then mirrored (mirror 0:
// none, 1: top and bottom exchanged, 2: left and right).
SourcePicture Turned(const SourcePicture& picture, int quarterTurns, int mirror);

// Samples of depth bits reduced to 8 by rounding.
SourcePicture ReducedToEightBits(const SourcePicture& picture, int depth);

// The peak signal-to-noise ratio of the decode's colour (and alpha when withAlpha) against
// the 8-bit picture; a size mismatch gives 0.
double Psnr(const CImageBitmap& decoded, const SourcePicture& picture, bool withAlpha);

// Where decoded and picture differ by more than tolerance in a channel: "" when nowhere.
std::string FirstDifference(const CImageBitmap& decoded, const SourcePicture& picture, int tolerance = 0);

// Overwrites the width and height of every ispe box of an ISO base media file.
void PatchImageSpatialExtents(std::vector<uint8_t>& file, uint32_t width, uint32_t height);

// A decode of bytes under context through the any-format decoder, finished as a decode of
// a file is; the error code, or 0.
int DecodeWith(const std::vector<uint8_t>& bytes, const CDecodeContext& context, CMemBitmap& bitmap);

// A context that leaves colours and orientation as stored.
CDecodeContext StoredPictureContext();

// Decodes the file with colours and orientation left as stored, cancelling the decode as it
// first reports progress (once its data is read); the error code, or 0.
int CancelledDecodeError(const std::string& path);
