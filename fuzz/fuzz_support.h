#pragma once

#include "codecs/auto_decoder.h"
#include "imagelib/animation_reader.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The fuzz target, as the host program, owns the application object that serves metafile
// text its fonts (offscreen: no display).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int argc = 3;
    static char name[] = "fuzzer";
    static char platformOption[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, platformOption, platform, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    return application != nullptr ? 0 : 1;
}

// Feeds one input to a format's decoder directly and through the any-format decoder. Every
// outcome but a CTextException or success is a finding: libFuzzer reports crashes, leaks,
// sanitizer reports and other exceptions (which abort as uncaught). args go to the
// decoder's constructor.
template <typename Decoder, typename... Args>
int FuzzDecoder(const uint8_t* data, size_t size, Args... args) {
    // Hostile headers may claim pictures of any size: small pictures keep each run short and
    // far below the fuzzer's memory cap, and the size checks do not depend on the limit.
    SetBitmapStorageLimit(uint64_t{32} << 20);
    for (int depth : {0, 8, 32}) {
        CMemBitmap bitmap;
        try {
            Decoder decoder(args...);
            decoder.DecodeMemory(data, size, bitmap, depth);
        } catch (const CTextException&) {
        }
    }
    // One any-format decoder for every input, as the viewer keeps one: no decode may leave
    // state behind that upsets the next.
    static CAutoDecoder autoDecoder;
    CMemBitmap bitmap;
    try {
        autoDecoder.DecodeMemory(data, size, bitmap, 32);
    } catch (const CTextException&) {
    }
    return 0;
}

// Opens the input as an animation with the format's factory and reads every frame, twice
// around (a rewind in between), as a player does.
inline int FuzzAnimation(std::unique_ptr<CAnimationReader> (*open)(std::vector<uint8_t>, const CDecodeContext&),
                         const uint8_t* data, size_t size) {
    CDecodeContext context;
    context.storageLimit = uint64_t{32} << 20;
    try {
        const std::unique_ptr<CAnimationReader> reader = open(std::vector<uint8_t>(data, data + size), context);
        CMemBitmap frame;
        for (int loop = 0; loop < 2; ++loop) {
            while (reader->ReadFrame(frame) >= 0) {
            }
            reader->Rewind();
        }
    } catch (const CTextException&) {
    }
    return 0;
}
