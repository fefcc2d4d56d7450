#pragma once

#include "pixel.h"

#include <cstddef>

// Straight colours from premultiplied ones, in place, each rounded to the nearest level.
// Opaque pixels and fully transparent ones (whose colour means nothing) stay as they are.
void Unpremultiply(BGRA* pixels, size_t count);
