#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class CImageBitmap;

// A temporary folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// The folder of checked-in fixtures (tests/data).
std::string TestDataPath(const std::string& name);

// Fills a 32-bit bitmap with a pattern where every pixel differs from its neighbours.
void FillGradient(CImageBitmap& bitmap);
// Creates width x height at depth and fills it with a pattern of distinct neighbours: the
// gradient at 32 bits, a varied index pattern over a colourful palette at 8 and 1 bits.
void CreatePattern(CImageBitmap& bitmap, int width, int height, int depth);
// True when both bitmaps have the same size and depth and equal pixels (RGB and alpha for
// 32 bits; indices and the palette entries they use for 1 and 8 bits).
bool SamePixels(const CImageBitmap& a, const CImageBitmap& b, std::string* why = nullptr);
