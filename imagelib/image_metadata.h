#pragma once

#include <cstdint>
#include <vector>

// What a PNG file says about its colours besides an ICC profile. Each part counts only when
// its flag is set.
struct PngColourChunks {
    bool hasGamma = false;
    double gamma = 0;  // the gAMA value: 0.45455 for pictures encoded for a 2.2 display
    bool hasChromaticities = false;
    // cHRM: white point, red, green and blue as x, y pairs.
    double whiteX = 0, whiteY = 0, redX = 0, redY = 0, greenX = 0, greenY = 0, blueX = 0, blueY = 0;
    bool srgb = false;  // an sRGB chunk
    int srgbIntent = 0;

    friend bool operator==(const PngColourChunks&, const PngColourChunks&) = default;
};

// What a decoded picture carries besides its pixels. Decoders record what the file says;
// a decode then converts the colours and turns the picture upright as its context asks
// (ConvertColours, ApplyOrientation), and these fields follow the pixels: orientation 1
// once applied, the target's profile (none for sRGB) and no PNG colour chunks once
// converted.
struct ImageMetadata {
    // Exif orientation 1 to 8 (1: upright as the pixels are), from JPEG APP1, PNG eXIf or TIFF.
    int orientation = 1;
    // The ICC profile of the pixels, empty when the file has none (sRGB is assumed).
    std::vector<uint8_t> iccProfile;
    PngColourChunks pngColour;
    // Pictures in the file: more than 1 for an animation or a multi-page file.
    int frameCount = 1;
    // The picture was decoded at 1/scaleDenominator of its stored size (scaled decoding).
    int scaleDenominator = 1;

    friend bool operator==(const ImageMetadata&, const ImageMetadata&) = default;
};

// What a header probe learns without decoding pixels.
struct ImageInfo {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;  // as the file stores a pixel: 1 to 64
    bool hasAlpha = false;  // the format stores an alpha channel or transparent colour for it
    int frameCount = 1;
    int orientation = 1;
    bool hasColourProfile = false;
};
