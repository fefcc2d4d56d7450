#pragma once

#include <cstdint>
#include <span>
#include <vector>

// What a WebP file's RIFF container says before any pixel is decoded: the canvas, whether
// it stores alpha, its frames and loop count (animations), the ICCP chunk's profile and the
// orientation of the EXIF chunk. Read by libwebp's WebPGetFeatures and libwebpdemux, which
// also accepts a file cut short: what its complete chunks say is reported, and `complete`
// tells whether the file holds all it announces.
struct WebPLayout {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    bool animated = false;
    bool lossless = false;
    int frameCount = 1;
    int loopCount = 0;  // 0: for ever
    std::vector<uint8_t> iccProfile;
    int orientation = 1;
    bool complete = true;
};

// Raises code 11 for data that ends inside the headers, code 2 for a file libwebp rejects.
WebPLayout ReadWebPLayout(std::span<const uint8_t> data);

// Raises the library's error for a libwebp status (VP8StatusCode): code 10 when libwebp ran
// out of memory, code 2 with what went wrong otherwise.
[[noreturn]] void RaiseWebPStatus(int status);

// Refuses (code 10) a canvas whose 32-bit bitmap would exceed the decode's storage limit,
// before libwebp allocates anything for it.
void CheckWebPCanvas(const WebPLayout& layout);
