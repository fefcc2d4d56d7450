#pragma once

#include "imagelib/animation_reader.h"

#include <cstdint>
#include <memory>
#include <vector>

// The registry's animation factory for GIF: a reader of the file's images as frames,
// composited on the canvas (the logical screen, grown to hold the first image) with GIF's
// disposal methods: keep, restore to background (transparent, as browsers show it) and
// restore to previous. Frame 0 is the picture a plain decode at 32 bits gives: the
// background colour where the first image does not reach, transparent where its graphic
// control extension names a transparent colour. A delay under 20 ms shows for 100 ms. The
// animation plays once unless a NETSCAPE2.0 (or ANIMEXTS1.0) extension asks for repeats.
//
// The frame list comes from the file's blocks when it opens; each frame's compressed data
// is decoded when it is asked for. Damage: a frame whose compressed data ends early keeps
// what it drew; pixels beyond the colour map raise code 2, as in a plain decode.
std::unique_ptr<CAnimationReader> OpenGifAnimation(std::vector<uint8_t> data, const CDecodeContext& context);
