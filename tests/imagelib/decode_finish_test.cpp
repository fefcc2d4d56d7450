#include "imagelib/byte_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "support/test_profiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <vector>

namespace {

std::vector<uint8_t> SwappedRedGreenProfile() {
    return GammaRgbProfile({{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}}, 2.2);
}

// Delivers a red picture of 3 x 2 stored turned a quarter left (Exif orientation 6) in a
// profile that exchanges red and green, as a decoder of such a photo would.
class TurnedRedDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int&, CByteSource&) override {
        bitmap.Create(3, 2, 32, false);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) bitmap.PixelLine(y)[x] = OpaqueColour(255, 0, 0);
        bitmap.Metadata().orientation = 6;
        bitmap.Metadata().iccProfile = SwappedRedGreenProfile();
    }
};

// A container whose picture is a TurnedRedDecoder picture inside it.
class ContainerDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int&, CByteSource&) override {
        const uint8_t inner[1] = {0};
        TurnedRedDecoder().DecodeMemory(inner, sizeof inner, bitmap);
    }
};

const uint8_t kData[1] = {0};

}  // namespace

TEST(DecodeFinishTest, OutermostDecodesConvertColoursAndTurnUprightAsTheContextAsks) {
    struct Case {
        bool orientation;
        bool colours;
    };
    for (const Case c : {Case{true, true}, Case{false, true}, Case{true, false}, Case{false, false}}) {
        CDecodeContext context;
        context.applyOrientation = c.orientation;
        context.colourManagement = c.colours;
        CMemBitmap bitmap;
        TurnedRedDecoder().DecodeMemory(kData, sizeof kData, bitmap, context);
        EXPECT_EQ(bitmap.Size(), c.orientation ? std::make_pair(2, 3) : std::make_pair(3, 2));
        EXPECT_EQ(bitmap.Metadata().orientation, c.orientation ? 1 : 6);
        EXPECT_EQ(bitmap.PixelLine(0)[0], c.colours ? OpaqueColour(0, 255, 0) : OpaqueColour(255, 0, 0));
        EXPECT_EQ(bitmap.Metadata().iccProfile.empty(), c.colours);
    }
    CMemBitmap byDefault;
    TurnedRedDecoder().DecodeMemory(kData, sizeof kData, byDefault);
    EXPECT_EQ(byDefault.Size(), std::make_pair(2, 3));
    EXPECT_EQ(byDefault.PixelLine(0)[0], OpaqueColour(0, 255, 0));
}

// The picture inside a container is finished once, with the container's: not turned twice
// or converted twice, and not at all when the container's context says no.
TEST(DecodeFinishTest, PicturesInsideOthersAreFinishedWithTheirContainer) {
    CMemBitmap bitmap;
    ContainerDecoder().DecodeMemory(kData, sizeof kData, bitmap);
    EXPECT_EQ(bitmap.Size(), std::make_pair(2, 3));
    EXPECT_EQ(bitmap.PixelLine(0)[0], OpaqueColour(0, 255, 0));

    CDecodeContext context;
    context.applyOrientation = false;
    context.colourManagement = false;
    ContainerDecoder().DecodeMemory(kData, sizeof kData, bitmap, context);
    EXPECT_EQ(bitmap.Size(), std::make_pair(3, 2));
    EXPECT_EQ(bitmap.PixelLine(0)[0], OpaqueColour(255, 0, 0));
}
