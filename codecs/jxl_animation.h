#pragma once

#include "imagelib/animation_reader.h"

#include <cstdint>
#include <memory>
#include <vector>

// The frames of a JPEG XL animation (data: the whole file), composited by libjxl. Each
// frame's delay is its duration in ticks of the animation header's rate, in milliseconds
// (0 becomes 100); the loop count is the header's, 0 for ever. Opening reads every frame
// header without decoding pixels and checks the canvas against the storage limit. Raises
// CTextException as a decode does.
std::unique_ptr<CAnimationReader> OpenJXLAnimation(std::vector<uint8_t> data, const CDecodeContext& context);
