#pragma once

#include "decode_context.h"
#include "text_exception.h"
#include "trace.h"

#include <new>

class CImageBitmap;

// Runs a decode or probe under context (or the one already active), turning an allocation
// failure anywhere inside into the library's out-of-memory error.
template <typename Work>
void RunDecode(const CDecodeContext* context, Work&& work) {
    try {
        CDecodeScope scope(context);
        work();
    } catch (const std::bad_alloc&) {
        RaiseError(ERR_OUT_OF_MEMORY, "Out of memory while decoding.");
    }
}

// The end of an outermost decode: colours converted, then the picture turned upright, as
// the active context asks. A picture decoded inside another (a JPEG inside a PICT) is part
// of its container, whose own decode finishes the whole.
void FinishPicture(CImageBitmap& bitmap);
