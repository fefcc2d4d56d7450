#include "imagelib/exif_orientation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// An Exif block as cameras write it: the prefix, a TIFF header in the given byte order and
// IFD0 with an image-width entry before the orientation.
std::vector<uint8_t> ExifBlock(bool little, uint16_t orientation, bool withPrefix = true) {
    std::vector<uint8_t> b;
    if (withPrefix) b = {'E', 'x', 'i', 'f', 0, 0};
    auto put16 = [&](uint16_t v) {
        if (little) {
            b.push_back(static_cast<uint8_t>(v));
            b.push_back(static_cast<uint8_t>(v >> 8));
        } else {
            b.push_back(static_cast<uint8_t>(v >> 8));
            b.push_back(static_cast<uint8_t>(v));
        }
    };
    auto put32 = [&](uint32_t v) {
        if (little) {
            put16(static_cast<uint16_t>(v));
            put16(static_cast<uint16_t>(v >> 16));
        } else {
            put16(static_cast<uint16_t>(v >> 16));
            put16(static_cast<uint16_t>(v));
        }
    };
    b.push_back(little ? 'I' : 'M');
    b.push_back(little ? 'I' : 'M');
    put16(42);
    put32(8);
    put16(2);
    put16(0x0100), put16(4), put32(1), put32(640);           // ImageWidth, LONG
    put16(0x0112), put16(3), put32(1), put16(orientation), put16(0);  // Orientation, SHORT
    put32(0);  // no next directory
    return b;
}

}  // namespace

TEST(ExifOrientationTest, AllEightInBothByteOrders) {
    for (bool little : {true, false})
        for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
            EXPECT_EQ(ReadExifOrientation(ExifBlock(little, orientation)), orientation) << little;
            EXPECT_EQ(ReadExifOrientation(ExifBlock(little, orientation, false)), orientation) << "without prefix";
        }
}

TEST(ExifOrientationTest, MalformedBlocksAreIgnored) {
    EXPECT_EQ(ReadExifOrientation({}), 1);
    EXPECT_EQ(ReadExifOrientation(ExifBlock(true, 9)), 1) << "outside 1 to 8";
    std::vector<uint8_t> badOffset = ExifBlock(false, 6);
    badOffset[6 + 7] = 0xF0;  // IFD0 far beyond the block
    EXPECT_EQ(ReadExifOrientation(badOffset), 1);
    std::vector<uint8_t> absurdCount = ExifBlock(true, 6);
    absurdCount[6 + 8] = 0xFF, absurdCount[6 + 9] = 0xFF;
    EXPECT_EQ(ReadExifOrientation(absurdCount), 1);
    std::vector<uint8_t> cut = ExifBlock(true, 6);
    cut.resize(cut.size() - 10);  // the orientation entry cut in half
    EXPECT_EQ(ReadExifOrientation(cut), 1);
    std::vector<uint8_t> noMark = ExifBlock(true, 6);
    noMark[6] = 'X';
    EXPECT_EQ(ReadExifOrientation(noMark), 1);
}
