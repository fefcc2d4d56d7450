#pragma once

class CImageBitmap;

// Turns and mirrors a decoded picture so that it shows upright, as its Exif orientation
// (metadata.orientation, 1 to 8) asks, and records that by setting the orientation to 1.
// Orientations 2 to 4 mirror or half-turn the picture in place; 5 to 8 swap its sides, so
// the bitmap is created anew at the turned size (the same kind of bitmap, its palette,
// alpha flag and metadata kept) and the turned pixels are written in one pass from a copy
// of the stored ones. Works at 1, 8 and 32 bits per pixel; an orientation outside 1 to 8
// leaves the picture as it is. Raises CTextException code 10 when the copy or the new
// storage cannot be had.
void ApplyOrientation(CImageBitmap& bitmap);
