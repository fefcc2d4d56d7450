#pragma once

#include <cstdint>
#include <functional>

// Runs work(firstRow, endRow) over consecutive bands of rows that together cover 0 to rows,
// one band per processor core: the calling thread takes the first band and helper threads
// the others, and the call returns when every band is done. A job of fewer than
// kPixelsWorthSplitting pixels runs whole on the calling thread, as starting threads would
// cost more than they save. work must not throw, and the bands it is given must touch
// disjoint memory, as they run at once.
void ForEachRowBand(int rows, int64_t pixels, const std::function<void(int firstRow, int endRow)>& work);

constexpr int64_t kPixelsWorthSplitting = int64_t{1} << 18;
