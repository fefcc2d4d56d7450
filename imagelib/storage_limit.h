#pragma once

#include <cstdint>

// The most bytes of pixel storage one bitmap may take. 4 GiB by default: room for a
// half-gigapixel panorama at 32 bits per pixel, yet small enough that a header claiming
// 100000 x 100000 pixels is refused before the machine starts to swap.
constexpr uint64_t kDefaultBitmapStorageLimit = uint64_t{4} << 30;

// The process default, which every decode context starts from.
void SetBitmapStorageLimit(uint64_t bytes);
// The limit of the decode running on the calling thread, else the process default.
uint64_t BitmapStorageLimit();

// Row length without alignment: width * depth / 8, plus one byte for a partial 1-bit byte.
uint64_t UnpaddedLineBytes(int64_t width, int depth);
// The same padded to a multiple of four bytes, as window-system bitmaps store rows.
uint64_t PaddedLineBytes(int64_t width, int depth);

// Throws CTextException: code 2 for dimensions or depths no bitmap can have, code 10 when
// height rows of lineBytes would exceed the storage limit. Returns the storage size.
uint64_t CheckBitmapStorage(int64_t width, int64_t height, int depth, uint64_t lineBytes);
