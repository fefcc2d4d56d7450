#pragma once

#include "imagelib/animation_reader.h"

#include <memory>
#include <string>

// Opens the frames of fileName when its format animates and the file holds more than one
// frame; nullptr for a still picture (which a decode shows whole). Opening reads the file's
// bytes under the context's limits and raises CTextException for a file that cannot be
// read, as a decode does.
std::unique_ptr<CAnimationReader> OpenAnimation(const std::string& fileName, const CDecodeContext& context);
// The same over a file the caller has opened (and still owns); fileName names it in messages
// and for the formats recognised by their extension. A process that may not open files
// plays what another one opened for it this way.
std::unique_ptr<CAnimationReader> OpenAnimation(int fd, const std::string& fileName, const CDecodeContext& context);
