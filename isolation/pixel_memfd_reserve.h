#pragma once

#include "isolation/pixel_memfd.h"

#include <cstddef>

// The decoder helper's pixel memory for the next picture, made while it waits for the next
// request, so that a decode finds its pages in place. It holds one picture's memory at most,
// never pixels of a picture it handed out.
class CPixelMemfdReserve {
public:
    // Rows for a picture of bytes: the memfd made ahead when it is no more than twice as large
    // (cut to size) or smaller (grown), a new one otherwise; empty when memory is short. A
    // reserve not taken is given back at once when it is large, else at the next Prepare; a
    // new memfd refused for the address space it occupies is tried again without it.
    CPixelMemfd Take(size_t bytes);

    // Keeps the rows of a picture handed to the viewer mapped until Prepare: unmapping a
    // large picture takes milliseconds the viewer need not wait for.
    void Retire(CPixelMemfd handedOut);

    // Unmaps the rows retired, then makes ahead a memfd of bytes for the next picture, which
    // is most likely of the last one's size; any other it holds is given back first. Returns
    // at once: large pages are put in place by a thread of their own.
    void Prepare(size_t bytes);

    // Gives back all it holds.
    void Release();

    size_t Bytes() const { return held_.Bytes(); }

private:
    CPixelMemfd held_;
    CPixelMemfd retired_;
};
