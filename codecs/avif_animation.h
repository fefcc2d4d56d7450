#pragma once

#include "imagelib/animation_reader.h"

#include <cstdint>
#include <memory>
#include <vector>

// Opens the frames of an AVIF image sequence (the file's whole bytes). Every frame of a
// sequence covers the whole canvas, so composing one is decoding it; its delay is the
// frame's duration in the track's timescale (0: 100 ms). libavif 0.11 does not report an
// edit list's repetitions, so sequences play for ever. A still AVIF opens as one frame.
std::unique_ptr<CAnimationReader> OpenAvifAnimation(std::vector<uint8_t> data, const CDecodeContext& context);
