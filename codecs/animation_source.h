#pragma once

#include "imagelib/animation_reader.h"

#include <memory>
#include <string>

// Opens the frames of fileName when its format animates and the file holds more than one
// frame; nullptr for a still picture (which a decode shows whole). Opening reads the file's
// bytes under the context's limits and raises CTextException for a file that cannot be
// read, as a decode does.
std::unique_ptr<CAnimationReader> OpenAnimation(const std::string& fileName, const CDecodeContext& context);
