#include "test_files.h"

#include "imagelib/image_bitmap.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vt-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TestDataPath(const std::string& name) { return std::string(VT_TEST_DATA_DIR) + "/" + name; }

void FillGradient(CImageBitmap& bitmap) {
    CBitmapLock lock(bitmap, false, true);
    for (int y = 0; y < bitmap.Height(); ++y) {
        BGRA* row = bitmap.PixelLine(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            row[x] = BGRA{static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 13 + x * 3),
                          static_cast<uint8_t>((x ^ y) * 5), 255};
    }
}

void CreatePattern(CImageBitmap& bitmap, int width, int height, int depth) {
    bitmap.Create(width, height, depth, false);
    if (depth == 32) {
        FillGradient(bitmap);
        return;
    }
    CBitmapLock lock(bitmap, false, true);
    for (int i = 0; i < PaletteEntries(depth); ++i)
        bitmap.Palette()[i] = BGRA{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 11 + 5), 255};
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.Line(y);
        for (int x = 0; x < width; ++x) {
            const int value = x * 7 + y * 3 + (x * y) % 5;
            if (depth == 8) {
                row[x] = static_cast<uint8_t>(value);
            } else if (value & 1) {
                row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            } else {
                row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
            }
        }
    }
}

namespace {

BGRA PixelAt(const CImageBitmap& bitmap, int x, int y) {
    const uint8_t* row = bitmap.Line(y);
    switch (bitmap.BitsPerPixel()) {
    case 32: return reinterpret_cast<const BGRA*>(row)[x];
    case 8: return bitmap.Palette()[row[x]];
    default: return bitmap.Palette()[(row[x >> 3] >> (7 - (x & 7))) & 1];
    }
}

}  // namespace

bool SamePixels(const CImageBitmap& a, const CImageBitmap& b, std::string* why) {
    auto fail = [why](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    if (a.Size() != b.Size()) return fail("sizes differ");
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (!(PixelAt(a, x, y) == PixelAt(b, x, y)))
                return fail("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") differs");
    return true;
}
