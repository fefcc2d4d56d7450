#include "viewer/picture_turn.h"

#include "imagelib/dib_section_bitmap.h"
#include "imagelib/orientation.h"

namespace {

// The Exif orientation of a stored picture that the turn would set upright.
int OrientationFor(PictureTurn turn) {
    switch (turn) {
    case PictureTurn::RotateLeft: return 8;
    case PictureTurn::RotateRight: return 6;
    case PictureTurn::FlipHorizontally: return 2;
    case PictureTurn::FlipVertically: return 4;
    }
    return 1;
}

}  // namespace

std::shared_ptr<CDIBSectionBitmap> TurnedPicture(CImageBitmap& source, PictureTurn turn) {
    // The source may be shared (the loader keeps the picture shown), so the copy is turned.
    auto turned = std::make_shared<CDIBSectionBitmap>();
    turned->CopyFrom(source, 0);
    const int orientation = turned->Metadata().orientation;
    turned->Metadata().orientation = OrientationFor(turn);
    ApplyOrientation(*turned);
    turned->Metadata().orientation = orientation;
    return turned;
}
