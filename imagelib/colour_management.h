#pragma once

#include "pixel.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CImageBitmap;
struct ImageMetadata;

// Converts a decoded picture's colours to targetProfile (the bytes of an RGB ICC profile;
// empty: sRGB) with LittleCMS 2. Where the colours come from:
//   - the ICC profile of the metadata: an RGB profile for colour pictures, a grey profile
//     for grey ones (decoded at 32 bits they carry R = G = B; the profile's tone curve is
//     applied to each channel);
//   - else PNG's gAMA and cHRM chunks, unless an sRGB chunk says the picture is sRGB: an RGB
//     profile of those primaries and white point (sRGB's when there is no cHRM) and the tone
//     curve of exponent 1 / gAMA (sRGB's when there is no gAMA). A gAMA of 1/2.2 without
//     other chromaticities than sRGB's is how PNG writers mark sRGB pictures, and counts as
//     sRGB;
//   - else sRGB, as untagged pictures are.
// Sources and targets that are both sRGB (by their colorants and tone curves, whatever
// their bytes) or byte-equal need no conversion and leave the pixels as they are.
//
// 32-bit pixels are converted with their alpha kept, the rows split among the processor's
// cores; 1- and 8-bit pictures have their palette converted. Afterwards the metadata
// describes the converted pixels: its profile is the target's (none for sRGB) and its PNG
// colour chunks are cleared, so a second call changes nothing.
//
// A profile LittleCMS cannot read, a profile of another colour space (CMYK: its samples
// are gone once a decoder made RGB of them; decoders that hold CMYK inks convert them
// through such a profile themselves, with CColourRowConverter) or a pair of profiles
// LittleCMS cannot convert between leaves the picture and its metadata as they are, with
// a trace line: a picture never fails for its colour profile. Transforms are kept for the next pictures
// of the same source and target (the same camera's profile on every photo is read once)
// and shared by every thread.
void ConvertColours(CImageBitmap& bitmap, std::span<const uint8_t> targetProfile = {});

// Samples a decoder holds before it makes 8-bit BGRA of them: 16-bit grey or RGB in the
// machine's byte order, alpha (if any) after the colours; or 8-bit CMYK inks, plain
// (0: no ink) or inverted as Adobe's applications store them (255: no ink).
enum class DecoderSamples : uint8_t { Grey16, GreyAlpha16, Rgb16, Rgba16, Cmyk8, InvertedCmyk8 };

// Converts rows of a decoder's samples to the decode's target in one step, before they are
// reduced to 8 bits: the finer levels of 16-bit samples count (dark tones through a steep
// tone curve), and CMYK inks go through their profile instead of a naive formula. Made
// once per decode; Convert may run on several threads at once. What it converts with comes
// from the cache ConvertColours uses: LittleCMS's transform, or for matrix-and-curve RGB
// profiles and grey samples tables of every 16-bit level.
class CColourRowConverter {
public:
    // The converter for a picture with this metadata under the active decode context, or
    // nullptr when colour management is off, the colours need no conversion, the profile
    // does not describe these samples (a CMYK profile on RGB samples, a grey one on RGB), or
    // LittleCMS cannot convert them. The decoder then reduces the samples as it always
    // does, and the finish step converts, or traces why it cannot.
    static std::unique_ptr<CColourRowConverter> ForDecode(const ImageMetadata& metadata, DecoderSamples samples);

    ~CColourRowConverter();
    CColourRowConverter(const CColourRowConverter&) = delete;
    CColourRowConverter& operator=(const CColourRowConverter&) = delete;

    // count pixels of samples into out; 16-bit alpha rounded to the nearest 8-bit level,
    // no alpha: 255. samples may be out itself for CMYK (four bytes a pixel both).
    void Convert(const void* samples, BGRA* out, size_t count) const;

    // Records in metadata that the pixels are in the target now, as ConvertColours does, so
    // that the finish step leaves them alone.
    void MarkConverted(ImageMetadata& metadata) const;

    struct Rows;  // what converts, shared through the cache

private:
    CColourRowConverter(std::shared_ptr<const Rows> rows, DecoderSamples samples, std::vector<uint8_t> target);

    std::shared_ptr<const Rows> rows_;
    DecoderSamples samples_;
    std::vector<uint8_t> target_;
};
