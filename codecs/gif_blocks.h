#pragma once

#include <gif_lib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// GIF's block structure, walked without decoding image data: the sub-blocks of extensions
// and images are skipped by their lengths.

// Where an image sits on the screen and how its rows are stored.
struct ImagePlacement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
};

// An image and what the graphic control extension before it says of it.
struct GifFrameBlocks {
    size_t separator = 0;  // offset of the image separator in the file
    ImagePlacement placement;
    int disposal = 0;  // 0 or 1: keep; 2: restore to background; 3: restore to previous
    int delayCentiseconds = 0;
    int transparentIndex = -1;  // -1: none
};

struct GifOutline {
    bool signature = false;
    bool screen = false;  // the logical screen descriptor is all there
    int width = 0;
    int height = 0;
    int background = 0;  // colour index
    int globalBits = 0;  // of the global colour map; 0 without one
    size_t headerLength = 0;  // signature, screen descriptor and global map
    int images = 0;
    int firstImageBits = 8;  // of the colour map the first image is drawn through
    bool firstImageTransparent = false;  // its graphic control extension names a transparent colour
    std::vector<GifFrameBlocks> frames;  // one per complete image descriptor
    // An application extension NETSCAPE2.0 (or ANIMEXTS1.0) asks for loops; its count of
    // repeats, 0 for ever.
    bool hasLoopExtension = false;
    int repeats = 0;
};

// Walks data from the signature up to the trailer, the end of the data or a byte that
// starts no block, listing complete image descriptors.
GifOutline WalkGifBlocks(const uint8_t* data, size_t size);

// The image descriptor as the file holds it (after its separator): placement, local colour
// map and the compressed data's minimum code size, read without consuming anything.
struct RawImage {
    ImagePlacement placement;
    const uint8_t* colours = nullptr;  // RGB triplets of the local map, if there is one
    int colourCount = 0;
    int minimumCodeSize = 0;
    size_t length = 0;  // descriptor, map and code size byte
    bool complete = false;  // all of that is present
};

RawImage PeekImage(const uint8_t* data, size_t size);

// giflib reads codes of at most 9 bits to start with; the format allows up to 12.
bool NeedsOwnLzw(const RawImage& raw);

// The canvas a GIF is drawn on: the logical screen, grown to the right and down to hold the
// first image where that reaches outside it (as browsers show such files); later images
// are clipped to it.
struct GifCanvas {
    int width = 0;
    int height = 0;
};
GifCanvas CanvasFor(int screenWidth, int screenHeight, const ImagePlacement& first);

// Refuses (code 2) an empty screen, and a canvas of more pixels than dataSize bytes of
// compressed data could describe: a hostile header, refused before anything is allocated.
void CheckGifCanvas(int screenWidth, int screenHeight, const GifCanvas& canvas, size_t dataSize);

// Reads the next row of an image's pixels; false when the compressed data ends first.
using RowReader = std::function<bool(GifPixelType* row, int width)>;

// Reads an image's rows in the order they are stored and hands each to onRow with its row
// number in the image (interlaced images come in GIF's four passes). Stops early when the
// compressed data ends. Charges the decode's work budget a unit per pixel.
void ReadImageRows(const ImagePlacement& image, const RowReader& readRow,
                   const std::function<void(int y, const GifPixelType* row)>& onRow);
