#include "jpeg_decoder.h"

#include "jpeg_memory_source.h"
#include "longjmp_guard.h"

#include "imagelib/byte_source.h"
#include "imagelib/colour_management.h"
#include "imagelib/decode_context.h"
#include "imagelib/exif_orientation.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/row_bands.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <jerror.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// A progressive stream may carry any number of scans, each refining the whole image once
// more; real encoders write at most a few dozen. Far more only comes from crafted files.
constexpr int kMaxScans = 1000;

// The segments kept for the picture's metadata, whole (a segment holds at most 65533 bytes).
constexpr int kExifMarker = JPEG_APP0 + 1;
constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr unsigned kWholeSegment = 0xFFFF;
constexpr std::string_view kExifPrefix{"Exif\0\0", 6};
constexpr std::string_view kIccPrefix{"ICC_PROFILE\0", 12};

// libjpeg's error manager and the way back into the decoder's own frames (RunGuarded).
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int code;                    // the library's error code for message
    DeclaredSize declared;       // the frame's size, when the failure is about it
    std::exception_ptr pending;  // a failure of our own code called from libjpeg
};
static_assert(std::is_standard_layout_v<ErrorManager>, "libjpeg's manager must be the first member");

ErrorManager& Errors(j_common_ptr cinfo) { return *reinterpret_cast<ErrorManager*>(cinfo->err); }

[[noreturn]] void ErrorExit(j_common_ptr cinfo) noexcept {
    ErrorManager& errors = Errors(cinfo);
    switch (cinfo->err->msg_code) {
    case JERR_OUT_OF_MEMORY:
        errors.code = ERR_OUT_OF_MEMORY;
        (*cinfo->err->format_message)(cinfo, errors.message);
        break;
    case JERR_NO_BACKING_STORE:
        // libjpeg-turbo keeps the coefficients of a multi-scan stream in memory only; it asks
        // for backing store when they would exceed max_memory_to_use, our storage limit.
        errors.code = ERR_OUT_OF_MEMORY;
        std::snprintf(errors.message, sizeof errors.message,
                      "The JPEG stream's coefficient buffers would exceed the storage limit.");
        break;
    case JERR_IMAGE_TOO_BIG: {
        // libjpeg's own limit of 65500 pixels a side: a picture over a limit like any other.
        const auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
        errors.code = ERR_OUT_OF_MEMORY;
        errors.declared = {decompressor->image_width, decompressor->image_height};
        (*cinfo->err->format_message)(cinfo, errors.message);
        break;
    }
    default:
        errors.code = ERR_FEATURE_UNAVAILABLE;
        (*cinfo->err->format_message)(cinfo, errors.message);
        break;
    }
    std::longjmp(errors.jump, 1);
}

// Warnings (a stream ending early, data resynchronised) go to the trace log: a library
// has no business writing to the terminal.
void OutputMessage(j_common_ptr cinfo) noexcept {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    try {
        Trace(2, FormatText("libjpeg: %s\n", text));
    } catch (...) {
        // Tracing is best effort; nothing may unwind into libjpeg.
    }
}

void ProgressMonitor(j_common_ptr cinfo) noexcept {
    ErrorManager& errors = Errors(cinfo);
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        std::snprintf(errors.message, sizeof errors.message, "The progressive JPEG stream has more than %d scans.",
                      kMaxScans);
        errors.code = ERR_FEATURE_UNAVAILABLE;
        std::longjmp(errors.jump, 1);
    }
    const jpeg_progress_mgr* progress = cinfo->progress;
    bool failed = false;
    try {
        // libjpeg reports each row of blocks of every scan: a stream of many scans over a
        // large image pays for each of them.
        CWorkBudget::ChargeRow(16 * static_cast<uint64_t>(reinterpret_cast<j_decompress_ptr>(cinfo)->output_width));
        if (progress->pass_limit > 0 && progress->total_passes > 0)
            static_cast<CByteSource*>(cinfo->client_data)
                ->ReportProgress((static_cast<double>(progress->pass_counter) / static_cast<double>(progress->pass_limit) +
                                  progress->completed_passes) /
                                 progress->total_passes);
    } catch (...) {
        errors.pending = std::current_exception();
        failed = true;
    }
    // Leave the handler before jumping: a longjmp out of a catch block skips its cleanup.
    if (failed) std::longjmp(errors.jump, 1);
}

// libjpeg hands CMYK (and YCCK, which it converts to CMYK) as four bytes per pixel.
// Adobe's applications store the inks inverted (255 = no ink), others plainly.
void CmykToBgra(uint8_t* pixel, JDIMENSION width, bool inverted) {
    const int flip = inverted ? 0 : 255;
    for (JDIMENSION x = 0; x < width; ++x, pixel += 4) {
        const int cyan = pixel[0] ^ flip, magenta = pixel[1] ^ flip, yellow = pixel[2] ^ flip, black = pixel[3] ^ flip;
        pixel[0] = static_cast<uint8_t>((yellow * black + 127) / 255);
        pixel[1] = static_cast<uint8_t>((magenta * black + 127) / 255);
        pixel[2] = static_cast<uint8_t>((cyan * black + 127) / 255);
        pixel[3] = 255;
    }
}

bool StartsWith(const jpeg_marker_struct& marker, std::string_view prefix) {
    return marker.data_length >= prefix.size() && std::memcmp(marker.data, prefix.data(), prefix.size()) == 0;
}

// The orientation in the first Exif segment. XMP packets also travel in APP1 and are passed
// over; Exif allows one Exif segment, so any later one is not read.
int ExifOrientation(const jpeg_decompress_struct& cinfo) {
    for (const jpeg_marker_struct* marker = cinfo.marker_list; marker != nullptr; marker = marker->next)
        if (marker->marker == kExifMarker && StartsWith(*marker, kExifPrefix))
            return ReadExifOrientation(std::span<const uint8_t>(marker->data, marker->data_length));
    return 1;
}

std::vector<uint8_t> IgnoredProfile(const char* why) {
    Trace(1, FormatText("ICC profile ignored: %s.\n", why));
    return {};
}

// ICC.1 (annex B.4) splits a profile over APP2 segments, each "ICC_PROFILE\0", its chunk's
// number from 1 and the number of chunks, and lets them come in any order. A set that does
// not add up is dropped rather than guessed at: a wrong profile is worse than none.
std::vector<uint8_t> IccProfile(const jpeg_decompress_struct& cinfo) {
    constexpr size_t kHeader = kIccPrefix.size() + 2;
    std::vector<const jpeg_marker_struct*> chunks;
    for (const jpeg_marker_struct* marker = cinfo.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker != kIccMarker || !StartsWith(*marker, kIccPrefix)) continue;
        if (marker->data_length < kHeader || marker->data_length < marker->original_length)
            return IgnoredProfile("a chunk is cut short");
        const unsigned number = marker->data[kIccPrefix.size()];
        const unsigned count = marker->data[kIccPrefix.size() + 1];
        if (number == 0 || number > count) return IgnoredProfile("a chunk's number lies outside its count");
        if (chunks.empty()) chunks.resize(count);
        if (count != chunks.size()) return IgnoredProfile("the chunks disagree on their count");
        if (chunks[number - 1] != nullptr) return IgnoredProfile("a chunk comes twice");
        chunks[number - 1] = marker;
    }
    if (std::find(chunks.begin(), chunks.end(), nullptr) != chunks.end()) return IgnoredProfile("a chunk is missing");
    std::vector<uint8_t> profile;
    for (const jpeg_marker_struct* chunk : chunks)
        profile.insert(profile.end(), chunk->data + kHeader, chunk->data + chunk->data_length);
    return profile;
}

// The largest DCT reduction libjpeg-turbo offers (1/8, 1/4, 1/2) whose output still covers
// the wish on both sides; the stored size when none does or there is no wish. Leaves the
// output dimensions computed.
void ChooseScale(j_decompress_ptr cinfo, int minWidth, int minHeight) {
    if (minWidth > 0 && minHeight > 0)
        for (const unsigned denominator : {8u, 4u, 2u}) {
            cinfo->scale_num = 1;
            cinfo->scale_denom = denominator;
            jpeg_calc_output_dimensions(cinfo);
            if (cinfo->output_width >= static_cast<JDIMENSION>(minWidth) &&
                cinfo->output_height >= static_cast<JDIMENSION>(minHeight))
                return;
        }
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    jpeg_calc_output_dimensions(cinfo);
}

// Returns the decompressor to its idle state however a decode ends, so that the next
// file can use it.
class AbortOnExit {
public:
    explicit AbortOnExit(jpeg_decompress_struct& cinfo) : cinfo_(cinfo) {}
    ~AbortOnExit() { jpeg_abort_decompress(&cinfo_); }
    AbortOnExit(const AbortOnExit&) = delete;
    AbortOnExit& operator=(const AbortOnExit&) = delete;

private:
    jpeg_decompress_struct& cinfo_;
};

}  // namespace

struct CJPEGDecoder::Codec {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};

    Codec() {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = ErrorExit;
        errors.pub.output_message = OutputMessage;
    }
    ~Codec() { jpeg_destroy_decompress(&cinfo); }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    // Runs libjpeg calls; returns false when libjpeg failed.
    template <typename Call>
    bool Guarded(Call&& call) {
        return RunGuarded(errors.jump, std::forward<Call>(call));
    }

    [[noreturn]] void Fail() {
        if (errors.pending) std::rethrow_exception(std::exchange(errors.pending, nullptr));
        RaiseError(errors.code, std::string(errors.message) + "\n", errors.declared);
    }

    // Reads the stream that starts at the source's position up to its first scan, keeping
    // the metadata segments.
    void ReadHeader(CByteSource& source) {
        errors.pending = nullptr;
        const uint8_t* const data = source.RemainingData();
        const size_t size = source.Available();
        if (!Guarded([&] {
                JpegMemorySource(&cinfo, data, size, &source, ProgressMonitor);
                jpeg_read_header(&cinfo, TRUE);
            }))
            Fail();
    }
};

CJPEGDecoder::CJPEGDecoder() : codec_(std::make_unique<Codec>()) {
    Codec& codec = *codec_;
    if (!codec.Guarded([&codec] {
            jpeg_create_decompress(&codec.cinfo);
            jpeg_save_markers(&codec.cinfo, kExifMarker, kWholeSegment);
            jpeg_save_markers(&codec.cinfo, kIccMarker, kWholeSegment);
        }))
        throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory creating the JPEG decompressor.");
}

CJPEGDecoder::~CJPEGDecoder() = default;

void CJPEGDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    Codec& codec = *codec_;
    jpeg_decompress_struct& cinfo = codec.cinfo;
    AbortOnExit abort(cinfo);
    codec.ReadHeader(source);
    info = ImageInfo{.width = static_cast<int>(cinfo.image_width),
                     .height = static_cast<int>(cinfo.image_height),
                     .bitsPerPixel = 8 * cinfo.num_components,
                     .hasAlpha = false,
                     .frameCount = 1,
                     .orientation = ExifOrientation(cinfo),
                     .hasColourProfile = !IccProfile(cinfo).empty()};
}

void CJPEGDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    Codec& codec = *codec_;
    jpeg_decompress_struct& cinfo = codec.cinfo;
    AbortOnExit abort(cinfo);

    const uint8_t* const data = source.RemainingData();
    const size_t size = source.Available();
    codec.ReadHeader(source);

    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    depth = grey && depth != 32 ? 8 : 32;
    // libjpeg-turbo writes BGRA with alpha 255 itself, in the bitmap's own byte order.
    cinfo.out_color_space = depth == 8 ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    // Measured on libjpeg-turbo 2.1 with a 24-megapixel 4:2:0 file: the accurate integer
    // DCT with smooth upsampling decodes faster than the floating-point DCT or plain
    // upsampling (bench/bench_codecs.sh prints the comparison), and looks better.
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    const int orientation = ExifOrientation(cinfo);
    const CDecodeContext* context = ActiveDecodeContext();
    int minWidth = context != nullptr ? context->minWidth : 0;
    int minHeight = context != nullptr ? context->minHeight : 0;
    // The wish is for the picture as shown: one that will be turned a quarter is stored with
    // its sides the other way round.
    if (context != nullptr && context->applyOrientation && orientation >= 5) std::swap(minWidth, minHeight);
    if (!codec.Guarded([&] { ChooseScale(&cinfo, minWidth, minHeight); })) codec.Fail();
    // A multi-scan stream keeps every coefficient of the stored picture, however small the
    // output: 2 bytes per sample, more than the bitmap of a scaled decode. Its buffers
    // answer to the same limit as bitmaps.
    cinfo.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(BitmapStorageLimit(), LONG_MAX));

    // Huffman coding spends at least one bit on every block of the first scan of each
    // component: data shorter than that is a hostile header, not an honest file cut short.
    if (!cinfo.arith_code) {
        uint64_t blocks = 0;
        for (int c = 0; c < cinfo.num_components; ++c)
            blocks += uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks;
        if (blocks / 8 > size) throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    }
    std::vector<uint8_t> iccProfile = IccProfile(cinfo);
    // Creating the bitmap first refuses oversized images before libjpeg allocates the
    // whole-image buffers of a progressive stream.
    const JDIMENSION width = cinfo.output_width;
    bitmap.Create(static_cast<int>(width), static_cast<int>(cinfo.output_height), depth, false);
    ImageMetadata& metadata = bitmap.Metadata();
    metadata.orientation = orientation;
    metadata.iccProfile = std::move(iccProfile);
    metadata.scaleDenominator = static_cast<int>(cinfo.scale_denom);
    CBitmapLock lock(bitmap, false, true);
    std::vector<JSAMPROW> rows(bitmap.Lines(), bitmap.Lines() + bitmap.Height());
    const bool inverted = cinfo.saw_Adobe_marker;
    // Inks with a CMYK profile of their own go through it; without one, the plain formula.
    std::unique_ptr<CColourRowConverter> converter;
    if (cmyk)
        converter = CColourRowConverter::ForDecode(metadata, inverted ? DecoderSamples::InvertedCmyk8 : DecoderSamples::Cmyk8);

    if (!codec.Guarded([&] {
            jpeg_start_decompress(&cinfo);
            while (cinfo.output_scanline < cinfo.output_height) {
                const JDIMENSION first = cinfo.output_scanline;
                const JDIMENSION count = jpeg_read_scanlines(&cinfo, rows.data() + first, cinfo.output_height - first);
                if (count == 0) break;
                if (cmyk && !converter)
                    for (JDIMENSION y = first; y < first + count; ++y) CmykToBgra(rows[y], width, inverted);
            }
            jpeg_finish_decompress(&cinfo);
        }))
        codec.Fail();
    if (converter) {
        // Through a profile's lookup tables a pixel costs several times its decode: the rows
        // are split among the processor's cores once they are all there.
        CheckDecodeCancelled();
        ForEachRowBand(bitmap.Height(), int64_t{bitmap.Width()} * bitmap.Height(), [&](int firstRow, int endRow) {
            for (int y = firstRow; y < endRow; ++y) converter->Convert(rows[static_cast<size_t>(y)], bitmap.PixelLine(y), width);
        });
        converter->MarkConverted(metadata);
    }

    const JOCTET* next = cinfo.src->next_input_byte;
    source.Skip(next >= data && next <= data + size ? static_cast<size_t>(next - data) : size);
}
