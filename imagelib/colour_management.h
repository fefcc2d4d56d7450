#pragma once

#include <cstdint>
#include <span>

class CImageBitmap;

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
// are gone once a decoder made RGB of them) or a pair of profiles LittleCMS cannot
// convert between leaves the picture and its metadata as they are, with a trace line: a
// picture never fails for its colour profile. Transforms are kept for the next pictures
// of the same source and target (the same camera's profile on every photo is read once)
// and shared by every thread.
void ConvertColours(CImageBitmap& bitmap, std::span<const uint8_t> targetProfile = {});
