#pragma once

#include <string>

namespace metafile {

// How playing a record list ended: at its end-of-file record (or the end of the data),
// or early at a record whose size is impossible, which the text names.
struct PlayOutcome {
    bool complete = true;
    std::string damage;
};

}  // namespace metafile
