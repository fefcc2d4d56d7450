#pragma once

#include "pl_object.h"

class CImageBitmap;

// A bitmap operation from a source into a destination. A concrete filter replaces one of
// the two operations; each base version is written in terms of the other.
class CImageFilter : public CPLObject {
public:
    ~CImageFilter() override = default;

    // Filters bitmap through a scratch bitmap: Apply(bitmap, scratch), then copies it back.
    virtual void ApplyInPlace(CImageBitmap& bitmap);
    // Copies source into destination (unless they are one bitmap), then filters in place.
    virtual void Apply(CImageBitmap& source, CImageBitmap& destination);

protected:
    CImageFilter() = default;
};
