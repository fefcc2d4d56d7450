// vtimg: the image library from the command line.
//
//   vtimg --version
//   vtimg formats
//   vtimg [GLOBAL OPTIONS] info FILE...
//   vtimg [GLOBAL OPTIONS] convert INPUT OUTPUT.bmp [--depth 0|1|8|32] [--resize WxH]
//                          [--quantize median|popularity|fixed] [--dither none|ordered|floyd]
//   vtimg [GLOBAL OPTIONS] bench FILE [--runs N] [--new-bitmap] [--pause MS]
//                          [--resize WxH | --thumbnail WxH | --probe]
//
// Global options: --trace LEVEL FILE, --dpi N, --keep-orientation, --no-color-management, --isolated.
//
// formats prints one line per format the library reads: its name, its file extensions and
// its MIME types, tab-separated (the lists space-separated). info reads each file's header
// without decoding its pixels: format, size, bits per pixel as stored, alpha, and frames,
// orientation and colour profile where the file has them.
//
// convert decodes INPUT, resizes it (bilinear, at 32 bits) when asked, converts it to the
// wanted depth (8 bits from true colour: the fixed palette, no dither; --quantize and
// --dither choose another palette or mapping and imply 8 bits) and writes a BMP file. bench prints the median milliseconds of decoding FILE
// at 32 bits and reading its rows once (as a first paint does) or, with --resize, of resizing the decoded picture; with --thumbnail, of
// decoding it for at least WxH (the scaled decoding a thumbnail asks for) and resizing it to
// WxH, as the thumbnail list does; with --probe, of reading its header as info does.
// Decodes of bench reuse one bitmap, as the viewer once kept one for its current picture;
// with --new-bitmap each run decodes into a new one. --pause waits MS milliseconds between
// runs, off the clock, as a person looking at each picture does.
//
// --dpi renders metafiles at N dots per inch instead of the screen's (96 without one).
// Decodes turn pictures upright by their Exif orientation and convert their colours to sRGB
// from their colour profile or PNG gamma; --keep-orientation keeps the stored orientation
// and --no-color-management the stored colours. info reports the header as stored either way.
//
// --isolated decodes (and probes) in a decoder helper process, as the viewer does, instead of
// in vtimg's own: the helper vtview-decoder is found beside vtimg or named by the environment
// variable VT_DECODER_HELPER. A helper that crashes or hangs fails that file with code 2.
//
// Exit status: 0 on success, 1 when the library reports an error, 2 on wrong usage.

#include "codecs/auto_decoder.h"
#include "codecs/format_registry.h"
#include "codecs/metafile_decoder.h"
#include "imagelib/decode_context.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/quantize_filter.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "isolation/decoder_pool.h"
#include "isolation/memfd_bitmap.h"

#include <QGuiApplication>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kUsageError = 2;

// The library draws metafile text with Qt's fonts, which only a QGuiApplication serves. The
// tool makes one (on the offscreen platform: it shows no window) only for files whose format
// may need it, so that reading a header stays cheap.
void ProvideFontsFor(const std::string& file) {
    if (QCoreApplication::instance() != nullptr) return;
    std::array<uint8_t, kDetectionHeaderSize> header{};
    // Signature tests weigh the whole file's size (a PICT is longer than its header).
    size_t size = 0;
    if (const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
        struct stat status {};
        if (::read(fd, header.data(), header.size()) > 0 && ::fstat(fd, &status) == 0 && status.st_size > 0)
            size = static_cast<size_t>(status.st_size);
        ::close(fd);
    }
    const FormatEntry* entry = FindFormat(DetectFormat(header.data(), size, file));
    if (entry == nullptr || (entry->capabilities & kDrawsText) == 0) return;
    static int argc = 3;
    static char name[] = "vtimg";
    static char platformOption[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, platformOption, platform, nullptr};
    // Never destroyed: the process ends right after the command.
    new QGuiApplication(argc, argv);
}

int Usage() {
    std::fputs("usage: vtimg --version\n"
               "       vtimg formats\n"
               "       vtimg [GLOBAL OPTIONS] info FILE...\n"
               "       vtimg [GLOBAL OPTIONS] convert INPUT OUTPUT.bmp [--depth 0|1|8|32] [--resize WxH]\n"
               "                 [--quantize median|popularity|fixed] [--dither none|ordered|floyd]\n"
               "       vtimg [GLOBAL OPTIONS] bench FILE [--runs N] [--new-bitmap] [--pause MS]\n"
               "                 [--resize WxH | --thumbnail WxH | --probe]\n"
               "global options: --trace LEVEL FILE, --dpi N, --keep-orientation, --no-color-management, --isolated\n",
               stderr);
    return kUsageError;
}

// What the global options ask of every decode.
struct DecodeOptions {
    bool keepOrientation = false;
    bool noColourManagement = false;
    bool isolated = false;
};
DecodeOptions g_decodeOptions;

// Decodes in this process, or with --isolated through a decoder helper process.
class CToolDecoder {
public:
    CToolDecoder() : helpers_(g_decodeOptions.isolated ? CDecoderPool::Shared() : nullptr) {}

    bool Isolated() const { return helpers_ != nullptr; }

    ImageInfo Probe(const std::string& file, const CDecodeContext& context, ImageFormat& format) {
        if (helpers_) return helpers_->ProbeFile(file, context, &format);
        const ImageInfo info = local_.ProbeFile(file, &context);
        format = local_.LastFormat();
        return info;
    }

    // The decoded picture: into itself in this process, a bitmap over the helper's memory
    // otherwise (valid until the next Decode).
    CImageBitmap& Decode(const std::string& file, const CDecodeContext& context, int depth, CImageBitmap& into) {
        if (!helpers_) {
            local_.DecodeFile(file, into, context, depth);
            return into;
        }
        isolated_ = helpers_->DecodeFile(file, context, depth);
        return *isolated_;
    }
    // Lets the last picture go, so that a timed decode does not pay for unmapping it.
    void Forget() { isolated_.reset(); }

private:
    CAutoDecoder local_;
    std::shared_ptr<CDecoderPool> helpers_;
    std::shared_ptr<CMemfdBitmap> isolated_;
};

// Only the process that decodes needs fonts.
void ProvideFontsUnlessIsolated(const std::string& file) {
    if (!g_decodeOptions.isolated) ProvideFontsFor(file);
}

CDecodeContext MakeContext() {
    CDecodeContext context;
    context.applyOrientation = !g_decodeOptions.keepOrientation;
    context.colourManagement = !g_decodeOptions.noColourManagement;
    return context;
}

void PrintError(const std::string& file, const CTextException& e) {
    std::string text = e.Text();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::fprintf(stderr, "%s: code %d: %s\n", file.c_str(), e.Code(), text.c_str());
}

bool ParseInt(const std::string& text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

std::string Joined(const std::vector<std::string_view>& values) {
    std::string joined;
    for (std::string_view value : values) {
        if (!joined.empty()) joined += ' ';
        joined += value;
    }
    return joined;
}

int Formats() {
    for (const FormatEntry& entry : FormatRegistry())
        std::printf("%s\t%s\t%s\n", entry.name, Joined(entry.extensions).c_str(), Joined(entry.mimeTypes).c_str());
    return 0;
}

int Info(const std::vector<std::string>& files) {
    if (files.empty()) return Usage();
    int status = 0;
    CToolDecoder decoder;
    for (const std::string& file : files) {
        try {
            ProvideFontsUnlessIsolated(file);
            ImageFormat format = ImageFormat::None;
            const ImageInfo info = decoder.Probe(file, CDecodeContext(), format);
            std::string extras;
            if (info.frameCount > 1) extras += FormatText(", %d frames", info.frameCount);
            if (info.orientation != 1) extras += FormatText(", orientation %d", info.orientation);
            if (info.hasColourProfile) extras += ", colour profile";
            std::printf("%s: %s %d x %d, %d bits per pixel, %s%s\n", file.c_str(), FormatName(format),
                        info.width, info.height, info.bitsPerPixel, info.hasAlpha ? "alpha" : "no alpha",
                        extras.c_str());
        } catch (const CTextException& e) {
            PrintError(file, e);
            status = 1;
        }
    }
    return status;
}

// "WxH" with both sides positive.
bool ParseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    return x != std::string::npos && ParseInt(text.substr(0, x), width) && ParseInt(text.substr(x + 1), height) &&
           width > 0 && height > 0;
}

struct ConvertOptions {
    int depth = 32;
    bool depthGiven = false;
    int newWidth = 0;  // 0: keep the size
    int newHeight = 0;
    bool quantize = false;
    int paletteMode = CQuantizeFilter::kFixedPalette;
    int ditherMode = CQuantizeFilter::kNoDither;
};

// Index of text in names, or -1.
int IndexOf(const std::string& text, std::initializer_list<const char*> names) {
    int index = 0;
    for (const char* name : names) {
        if (text == name) return index;
        ++index;
    }
    return -1;
}

int Convert(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    ConvertOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--depth" && hasValue) {
            int& depth = options.depth;
            if (!ParseInt(args[++i], depth) || (depth != 0 && depth != 1 && depth != 8 && depth != 32)) return Usage();
            options.depthGiven = true;
        } else if (args[i] == "--quantize" && hasValue) {
            // In the filter's own order: median cut, popularity, fixed.
            options.paletteMode = IndexOf(args[++i], {"median", "popularity", "fixed"});
            if (options.paletteMode < 0) return Usage();
            options.quantize = true;
        } else if (args[i] == "--dither" && hasValue) {
            options.ditherMode = IndexOf(args[++i], {"none", "ordered", "floyd"});
            if (options.ditherMode < 0) return Usage();
            options.quantize = true;
        } else if (args[i] == "--resize" && hasValue) {
            if (!ParseSize(args[++i], options.newWidth, options.newHeight)) return Usage();
        } else if (args[i].starts_with("--")) {
            return Usage();
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) return Usage();
    if (options.quantize) {
        if (options.depthGiven && options.depth != 8) return Usage();
        options.depth = 8;
    }
    const bool resize = options.newWidth > 0;
    try {
        ProvideFontsUnlessIsolated(files[0]);
        CToolDecoder decoder;
        CMemBitmap target;
        // Resizing and quantizing need true colour; 1 bit is made from whatever the file
        // holds; otherwise the decoder gives the wanted depth where the file allows it (a
        // palette file asked for 8 bits keeps its own palette).
        const int decodeDepth = resize || options.quantize ? 32 : options.depth == 1 ? 0 : options.depth;
        CDecodeContext context = MakeContext();
        context.minWidth = options.newWidth;
        context.minHeight = options.newHeight;
        CImageBitmap& decoded = decoder.Decode(files[0], context, decodeDepth, target);
        CMemBitmap resized;
        CImageBitmap* picture = &decoded;
        if (resize) {
            resized.ResizeFrom(decoded, options.newWidth, options.newHeight);
            picture = &resized;
        }
        CMemBitmap converted;
        if (options.quantize) {
            CQuantizeFilter(options.paletteMode, options.ditherMode).Apply(*picture, converted);
            picture = &converted;
        } else if (options.depth != 0 && picture->BitsPerPixel() != options.depth) {
            converted.CopyFrom(*picture, options.depth);
            picture = &converted;
        }
        CBMPEncoder encoder;
        encoder.EncodeFile(files[1], *picture);
    } catch (const CTextException& e) {
        PrintError(files[0], e);
        return 1;
    }
    return 0;
}

// Reads every row once, as the first paint of a decoded picture does: a picture whose pages
// are mapped only when first read pays for that here, like one decoded in place pays for its
// pages while it is written.
uint64_t ReadEveryRow(const CImageBitmap& picture) {
    uint64_t sum = 0;
    const size_t words = picture.BytesPerLine() / sizeof(uint64_t);
    for (int y = 0; y < picture.Height(); ++y) {
        const uint8_t* row = picture.Line(y);
        for (size_t i = 0; i < words; ++i) {
            uint64_t word;
            std::memcpy(&word, row + i * sizeof(word), sizeof(word));
            sum += word;
        }
    }
    return sum;
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

int Bench(const std::vector<std::string>& args) {
    enum class Measure { kDecode, kResize, kThumbnail, kProbe };
    std::string file;
    int runs = 10;
    bool newBitmap = false;
    int pauseMs = 0;
    Measure measure = Measure::kDecode;
    int newWidth = 0;
    int newHeight = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool choosing = measure == Measure::kDecode;  // at most one of the measure options
        if (args[i] == "--runs" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], runs) || runs < 1) return Usage();
        } else if (args[i] == "--new-bitmap") {
            newBitmap = true;
        } else if (args[i] == "--pause" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], pauseMs) || pauseMs < 0) return Usage();
        } else if ((args[i] == "--resize" || args[i] == "--thumbnail") && choosing && i + 1 < args.size()) {
            measure = args[i] == "--resize" ? Measure::kResize : Measure::kThumbnail;
            if (!ParseSize(args[++i], newWidth, newHeight)) return Usage();
        } else if (args[i] == "--probe" && choosing) {
            measure = Measure::kProbe;
        } else if (file.empty() && !args[i].starts_with("--")) {
            file = args[i];
        } else {
            return Usage();
        }
    }
    if (file.empty()) return Usage();
    std::vector<double> times;
    // Printed nowhere; it only keeps the reads of the rows from being optimised away.
    volatile uint64_t checksum = 0;
    auto timed = [&times, pauseMs](auto&& work) {
        if (!times.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    };
    try {
        ProvideFontsUnlessIsolated(file);
        CToolDecoder decoder;
        const CDecodeContext context = MakeContext();
        // A helper's start-up is no part of a decode: one is started before the clock runs.
        ImageFormat format = ImageFormat::None;
        if (decoder.Isolated()) decoder.Probe(file, context, format);
        // One bitmap for every run, as the viewer kept one for the current picture.
        CMemBitmap bitmap;
        switch (measure) {
        case Measure::kDecode:
            for (int i = 0; i < runs; ++i) {
                decoder.Forget();
                if (newBitmap) {
                    CDIBSectionBitmap fresh;
                    timed([&] { checksum = checksum + ReadEveryRow(decoder.Decode(file, context, 32, fresh)); });
                } else {
                    timed([&] { checksum = checksum + ReadEveryRow(decoder.Decode(file, context, 32, bitmap)); });
                }
            }
            break;
        case Measure::kResize: {
            CImageBitmap& picture = decoder.Decode(file, context, 32, bitmap);
            // A fresh destination each run: its creation is part of resizing.
            for (int i = 0; i < runs; ++i) {
                CMemBitmap resized;
                timed([&] { resized.ResizeFrom(picture, newWidth, newHeight); });
            }
            break;
        }
        case Measure::kThumbnail: {
            CDecodeContext scaled = context;
            scaled.minWidth = newWidth;
            scaled.minHeight = newHeight;
            for (int i = 0; i < runs; ++i) {
                CMemBitmap thumbnail;
                decoder.Forget();
                timed([&] { thumbnail.ResizeFrom(decoder.Decode(file, scaled, 32, bitmap), newWidth, newHeight); });
            }
            break;
        }
        case Measure::kProbe:
            for (int i = 0; i < runs; ++i) timed([&] { decoder.Probe(file, context, format); });
            break;
        }
    } catch (const CTextException& e) {
        PrintError(file, e);
        return 1;
    }
    std::printf("%.3f\n", Median(times));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("vtimg %s\n", VT_VERSION);
        return 0;
    }
    if (args.size() == 1 && args[0] == "formats") return Formats();
    while (!args.empty() && args[0].starts_with("--")) {
        if (args.size() >= 3 && args[0] == "--trace") {
            int level = 0;
            if (!ParseInt(args[1], level)) return Usage();
            SetTraceLevel(level);
            SetTraceFileName(args[2]);
            args.erase(args.begin(), args.begin() + 3);
        } else if (args.size() >= 2 && args[0] == "--dpi") {
            int dpi = 0;
            if (!ParseInt(args[1], dpi) || dpi < 1 || dpi > 10000) return Usage();
            SetMetafileDotsPerInch(dpi);
            args.erase(args.begin(), args.begin() + 2);
        } else if (args[0] == "--keep-orientation") {
            g_decodeOptions.keepOrientation = true;
            args.erase(args.begin());
        } else if (args[0] == "--no-color-management") {
            g_decodeOptions.noColourManagement = true;
            args.erase(args.begin());
        } else if (args[0] == "--isolated") {
            g_decodeOptions.isolated = true;
            args.erase(args.begin());
        } else {
            return Usage();
        }
    }
    if (args.empty()) return Usage();
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "info") return Info(args);
    if (command == "convert") return Convert(args);
    if (command == "bench") return Bench(args);
    return Usage();
}
