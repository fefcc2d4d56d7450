#pragma once

#include <memory>

class CDIBSectionBitmap;
class CImageBitmap;

// The quarter turns and mirrorings the user can apply to the picture shown.
enum class PictureTurn { RotateLeft, RotateRight, FlipHorizontally, FlipVertically };

// A turned copy of a 32-bit source (as the viewer's pictures are), its alpha flag and
// metadata kept; the source stays as it is. Rotating swaps width and height. Raises
// CTextException: code 7 for another depth, code 10 when the copy's storage cannot be had.
std::shared_ptr<CDIBSectionBitmap> TurnedPicture(CImageBitmap& source, PictureTurn turn);
