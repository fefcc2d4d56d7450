#pragma once

#include "imagelib/animation_reader.h"
#include "imagelib/image_decoder.h"
#include "imagelib/image_format.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a format's files can carry besides opaque pixels.
enum FormatCapability : unsigned {
    kCarriesAlpha = 1u << 0,
    kCarriesFrames = 1u << 1,
    kCarriesOrientation = 1u << 2,
    kCarriesColourProfile = 1u << 3,
    // Decoding may draw text, which needs the fonts of the host's QGuiApplication.
    kDrawsText = 1u << 4,
};

// One format the library reads: everything the rest of the program needs to know of it.
struct FormatEntry {
    ImageFormat format;
    const char* name;             // short upper-case name, as `vtimg formats` prints it
    const char* recognitionLine;  // the trace line of a recognised file
    // The signature test over the first kDetectionHeaderSize bytes (zero past the data's end)
    // and the data's size; nullptr for a format without signature, which only its
    // extensions find.
    bool (*matches)(const uint8_t* header, size_t size);
    std::vector<std::string_view> extensions;  // lower case, without the dot
    std::vector<std::string_view> mimeTypes;
    std::unique_ptr<CImageDecoder> (*createDecoder)();
    unsigned capabilities;
    // Opens the frames of an animated file of this format (the file's whole bytes); nullptr
    // for a format without animation.
    std::unique_ptr<CAnimationReader> (*openAnimation)(std::vector<uint8_t> data, const CDecodeContext& context) =
        nullptr;
};

// Every format, in the order their signatures are tested: the strongest first, so that a few
// matching bytes of a weak signature (TGA has none of its own) never take a file whose
// content says otherwise.
std::span<const FormatEntry> FormatRegistry();

// The entry of a format; nullptr for ImageFormat::None.
const FormatEntry* FindFormat(ImageFormat format);

// Short upper-case name of a format ("BMP", "JPEG", ...); "unknown" for None.
const char* FormatName(ImageFormat format);

// Classifies data by its content alone.
ImageFormat DetectFormat(const uint8_t* header, size_t size);

// Classifies data by its content and, only where the content has no signature, by the file
// name's own extension (never a folder's name): a 16-bit metafile without placeable header
// has none.
ImageFormat DetectFormat(const uint8_t* header, size_t size, std::string_view fileName);

// Every extension of every format, lower case, each once, in registry order.
std::vector<std::string> AllImageExtensions();
// Every MIME type of every format, each once, in registry order.
std::vector<std::string> AllImageMimeTypes();
