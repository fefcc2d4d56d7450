#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "image_format.h"

class CImageBitmap;

// Decodes a picture of the expected format embedded in another (a JPEG or PNG inside a
// metafile's bitmap record) into bitmap at 32 bits; raises CTextException on failure.
using EmbeddedPictureDecoder = void (*)(std::span<const uint8_t> data, ImageFormat expected, CImageBitmap& bitmap);

// Everything one decode may use and how it can be stopped: the storage limit, the trace log,
// the resolution metafiles are drawn at, the decoder of embedded pictures, a wish for a
// smaller picture, what to do with the picture's orientation and colours, and a cancel flag. A context is handed to a decode (CImageDecoder's
// DecodeFile, DecodeMemory and ProbeFile); decodes nested inside it (a JPEG inside a PICT)
// run under the same context. Two decodes on two threads each have their own.
//
// A default-made context takes the process defaults of the global setters
// (SetBitmapStorageLimit, SetTraceLevel, SetTraceFileName, SetMetafileDotsPerInch) as they are
// at that moment, so callers that never make one keep the old behaviour.
//
// Cancel may be called from any thread, also while the decode runs; copies of a context
// share its flag, so the thread that asks for a decode can keep a copy to cancel it with.
class CDecodeContext {
public:
    CDecodeContext();

    uint64_t storageLimit;
    int traceLevel;
    std::string traceFileName;
    // Metafile sizes in inches or millimetres are drawn at this resolution. The library
    // reads no screen: the host gives its screen's resolution here (96 by default).
    int dotsPerInch;
    // nullptr: the library's own decoders.
    EmbeddedPictureDecoder embeddedPictureDecoder = nullptr;
    // Scaled decoding: the caller needs a picture of at least this size (0 x 0: the stored
    // size). A decoder that can deliver a smaller picture cheaply does, never smaller than
    // asked on either side, and records the reduction in the picture's metadata; others
    // ignore the wish.
    int minWidth = 0;
    int minHeight = 0;
    // After the outermost decode the picture is turned upright by its Exif orientation and
    // its colours converted from its profile (or PNG gamma and chromaticities) to
    // targetProfile, the bytes of an RGB ICC profile (empty: sRGB). Turned off, the picture
    // keeps its stored orientation or colours and the metadata says what they are.
    bool applyOrientation = true;
    bool colourManagement = true;
    std::vector<uint8_t> targetProfile;

    void Cancel() const { cancelled_->store(true, std::memory_order_relaxed); }
    bool IsCancelled() const { return cancelled_->load(std::memory_order_relaxed); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// The context of the decode running on the calling thread, or nullptr outside any decode.
const CDecodeContext* ActiveDecodeContext();

// Raises CTextException(ERR_CANCELLED) when the decode running on the calling thread has
// been cancelled. Decoders call it at least once per row, band or record (the work budget's
// Charge does); outside a decode it does nothing.
void CheckDecodeCancelled();

// Makes context the active one of the calling thread for the scope's life. Given no context,
// a decode nested inside another keeps the outer one and an outermost decode gets the
// process defaults.
class CDecodeScope {
public:
    explicit CDecodeScope(const CDecodeContext* context);
    ~CDecodeScope();
    CDecodeScope(const CDecodeScope&) = delete;
    CDecodeScope& operator=(const CDecodeScope&) = delete;

private:
    const CDecodeContext* previous_;
    std::unique_ptr<CDecodeContext> defaults_;
};

// The process default of the metafile resolution (a context's dotsPerInch); 0 restores 96.
void SetDefaultDotsPerInch(int dotsPerInch);
int DefaultDotsPerInch();

// The process defaults of colour management (a context's colourManagement and targetProfile):
// a viewer switches it off or on for every later decode, or gives the monitor's profile.
void SetDefaultColourManagement(bool on, std::vector<uint8_t> targetProfile = {});
