#include "heif_family_test_support.h"

#include "codecs/auto_decoder.h"
#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <sstream>

SourcePicture MakePicture(int width, int height, const std::function<int(int x, int y, int channel)>& f) {
    SourcePicture picture{width, height, std::vector<uint16_t>(static_cast<size_t>(width) * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) picture.At(x, y)[c] = static_cast<uint16_t>(f(x, y, c));
    return picture;
}

SourcePicture SmoothPicture(int width, int height, bool withAlpha) {
    return MakePicture(width, height, [=](int x, int y, int c) {
        switch (c) {
        case 0: return x * 255 / (width - 1);
        case 1: return y * 255 / (height - 1);
        case 2: return 128 + static_cast<int>(100 * std::sin((x + y) / 9.0));
        default: return withAlpha ? (x + y) * 255 / (width + height - 2) : 255;
        }
    });
}

SourcePicture Turned(const SourcePicture& picture, int quarterTurns, int mirror) {
    SourcePicture out = picture;
    for (int turn = 0; turn < quarterTurns; ++turn) {
        SourcePicture turned = out;
        std::swap(turned.width, turned.height);
        // Anti-clockwise: the right column becomes the top row.
        for (int y = 0; y < turned.height; ++y)
            for (int x = 0; x < turned.width; ++x)
                std::memcpy(turned.At(x, y), out.At(out.width - 1 - y, x), 4 * sizeof(uint16_t));
        out = std::move(turned);
    }
    if (mirror == 0) return out;
    SourcePicture mirrored = out;
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const uint16_t* from = mirror == 1 ? out.At(x, out.height - 1 - y) : out.At(out.width - 1 - x, y);
            std::memcpy(mirrored.At(x, y), from, 4 * sizeof(uint16_t));
        }
    return mirrored;
}

SourcePicture ReducedToEightBits(const SourcePicture& picture, int depth) {
    SourcePicture out = picture;
    const int max = (1 << depth) - 1;
    for (uint16_t& v : out.samples) v = static_cast<uint16_t>((v * 255 + max / 2) / max);
    return out;
}

namespace {

// The decoded pixel's channels in the picture's order: red, green, blue, alpha.
std::array<int, 4> Channels(const CImageBitmap& bitmap, int x, int y) {
    const BGRA p = bitmap.PixelLine(y)[x];
    return {p.r, p.g, p.b, p.a};
}

}  // namespace

double Psnr(const CImageBitmap& decoded, const SourcePicture& picture, bool withAlpha) {
    if (decoded.Width() != picture.width || decoded.Height() != picture.height || decoded.BitsPerPixel() != 32) return 0;
    double squares = 0;
    size_t count = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const auto got = Channels(decoded, x, y);
            for (int c = 0; c < (withAlpha ? 4 : 3); ++c, ++count) {
                const double d = got[static_cast<size_t>(c)] - picture.At(x, y)[c];
                squares += d * d;
            }
        }
    const double mse = squares / static_cast<double>(count);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string FirstDifference(const CImageBitmap& decoded, const SourcePicture& picture, int tolerance) {
    std::ostringstream why;
    if (decoded.Width() != picture.width || decoded.Height() != picture.height || decoded.BitsPerPixel() != 32) {
        why << "decoded " << decoded.Width() << "x" << decoded.Height() << "x" << decoded.BitsPerPixel()
            << ", expected " << picture.width << "x" << picture.height << "x32";
        return why.str();
    }
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const auto got = Channels(decoded, x, y);
            for (int c = 0; c < 4; ++c)
                if (std::abs(got[static_cast<size_t>(c)] - picture.At(x, y)[c]) > tolerance) {
                    why << "pixel " << x << "," << y << " channel " << c << ": " << got[static_cast<size_t>(c)]
                        << " instead of " << picture.At(x, y)[c];
                    return why.str();
                }
        }
    return {};
}

void PatchImageSpatialExtents(std::vector<uint8_t>& file, uint32_t width, uint32_t height) {
    const auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    for (size_t at = 4; at + 16 <= file.size(); ++at)
        if (std::memcmp(file.data() + at, "ispe", 4) == 0) {
            put(at + 8, width);
            put(at + 12, height);
        }
}

int DecodeWith(const std::vector<uint8_t>& bytes, const CDecodeContext& context, CMemBitmap& bitmap) {
    CAutoDecoder decoder;
    try {
        decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, 32);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

CDecodeContext StoredPictureContext() {
    CDecodeContext context;
    context.applyOrientation = false;
    context.colourManagement = false;
    return context;
}

namespace {

class CancelOnFirstReport : public CProgressListener {
public:
    explicit CancelOnFirstReport(const CDecodeContext& context) : context_(context) {}
    void Progress(double) override { context_.Cancel(); }

private:
    const CDecodeContext& context_;
};

}  // namespace

int CancelledDecodeError(const std::string& path) {
    const CDecodeContext context = StoredPictureContext();
    CancelOnFirstReport listener(context);
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeFile(path, bitmap, context, 32, &listener);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}
