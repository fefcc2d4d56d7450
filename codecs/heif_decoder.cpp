#include "heif_decoder.h"

#include "imagelib/byte_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/premultiplied_alpha.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <libheif/heif.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ContextDeleter {
    void operator()(heif_context* context) const noexcept { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const noexcept { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const noexcept { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const noexcept { heif_decoding_options_free(options); }
};

void Check(const heif_error& error, const char* step) {
    if (error.code == heif_error_Ok) return;
    int code = ERR_BAD_DATA;
    if (error.code == heif_error_Memory_allocation_error || error.subcode == heif_suberror_Security_limit_exceeded)
        code = ERR_OUT_OF_MEMORY;
    else if (error.subcode == heif_suberror_End_of_data)
        code = ERR_END_OF_DATA;
    else if (error.code == heif_error_Unsupported_feature || error.code == heif_error_Unsupported_filetype ||
             error.code == heif_error_Plugin_loading_error)
        code = ERR_FEATURE_UNAVAILABLE;
    std::string message = error.message != nullptr && error.message[0] != '\0' ? error.message : "unknown error";
    // libheif ends some messages with a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '.' || message.back() == ' '))
        message.pop_back();
    RaiseError(code, FormatText("HEIF decoder: %s failed: %s.", step, message.c_str()));
}

// libheif counts its users; the library's decoders keep it for the program's life.
void InitialiseLibheif() {
    static const heif_error initialised = heif_init(nullptr);
    Check(initialised, "loading libheif");
}

// The parsed container and its primary picture.
struct HeifFile {
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> primary;
};

HeifFile OpenFile(CByteSource& source) {
    InitialiseLibheif();
    const size_t size = source.Available();
    const uint8_t* data = source.Read(size);
    HeifFile file;
    file.context.reset(heif_context_alloc());
    if (!file.context) RaiseError(ERR_OUT_OF_MEMORY, "Out of memory creating the HEIF decoder.");
    const CDecodeContext* decodeContext = ActiveDecodeContext();
    const uint64_t storageLimit = decodeContext != nullptr ? decodeContext->storageLimit : BitmapStorageLimit();
    // libheif's limit is one for each side: a single row of 32-bit pixels as long as the
    // storage limit allows. The whole picture is checked against the limit below.
    heif_context_set_maximum_image_size_limit(
        file.context.get(), static_cast<int>(std::min<uint64_t>(storageLimit / 4, std::numeric_limits<int>::max())));
    heif_context_set_max_decoding_threads(file.context.get(),
                                          static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    Check(heif_context_read_from_memory_without_copy(file.context.get(), data, size, nullptr), "reading the container");
    heif_image_handle* primary = nullptr;
    Check(heif_context_get_primary_image_handle(file.context.get(), &primary), "finding the primary picture");
    file.primary.reset(primary);
    const int width = heif_image_handle_get_width(primary);
    const int height = heif_image_handle_get_height(primary);
    if (width <= 0 || height <= 0) RaiseError(ERR_BAD_DATA, "HEIF decoder: the primary picture has no size.");
    CheckBitmapStorage(width, height, 32, PaddedLineBytes(width, 32));
    return file;
}

std::vector<uint8_t> ReadIccProfile(const heif_image_handle* handle) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return {};
    std::vector<uint8_t> profile(heif_image_handle_get_raw_color_profile_size(handle));
    if (profile.empty()) return {};
    Check(heif_image_handle_get_raw_color_profile(handle, profile.data()), "reading the colour profile");
    return profile;
}

// An RGBA row into BGRA, as 32-bit words the compiler turns into vector code (red and blue
// swap places). Returns the AND of every alpha byte.
uint8_t SwapRow(BGRA* out, const uint8_t* in, int width) noexcept {
    uint32_t all = ~0u;
    for (int x = 0; x < width; ++x) {
        uint32_t word;
        std::memcpy(&word, in + 4 * static_cast<size_t>(x), 4);
        all &= word;
        if constexpr (std::endian::native == std::endian::little)
            word = (word & 0xFF00FF00u) | ((word >> 16) & 0xFFu) | ((word & 0xFFu) << 16);
        else
            word = (word & 0x00FF00FFu) | ((word >> 16) & 0xFF00u) | ((word & 0xFF00u) << 16);
        std::memcpy(static_cast<void*>(out + x), &word, 4);
    }
    return static_cast<uint8_t>(std::endian::native == std::endian::little ? all >> 24 : all);
}

}  // namespace

void CHEIFDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    const HeifFile file = OpenFile(source);
    const heif_image_handle* primary = file.primary.get();
    const bool alpha = heif_image_handle_has_alpha_channel(primary) != 0;
    std::vector<uint8_t> profile = ReadIccProfile(primary);

    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options) RaiseError(ERR_OUT_OF_MEMORY, "Out of memory creating the HEIF decoder.");
    options->convert_hdr_to_8bit = 1;
    CheckDecodeCancelled();
    heif_image* decoded = nullptr;
    const heif_error error =
        heif_decode_image(primary, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get());
    const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
    Check(error, "decoding the picture");
    CheckDecodeCancelled();

    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4 ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        RaiseError(ERR_BAD_DATA, "HEIF decoder: libheif returned no 8-bit RGBA picture.");
    const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(image.get()) != 0;

    bitmap.Create(width, height, 32, alpha);
    bitmap.Metadata().iccProfile = std::move(profile);
    CBitmapLock lock(bitmap, false, true);
    uint8_t opaque = 255;
    for (int y = 0; y < height; ++y) {
        BGRA* row = bitmap.PixelLine(y);
        opaque &= SwapRow(row, pixels + static_cast<size_t>(stride) * y, width);
        if (premultiplied) Unpremultiply(row, static_cast<size_t>(width));
    }
    bitmap.SetHasAlpha(alpha && opaque != 255);
    depth = 32;
}

void CHEIFDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const HeifFile file = OpenFile(source);
    const heif_image_handle* primary = file.primary.get();
    info.width = heif_image_handle_get_width(primary);
    info.height = heif_image_handle_get_height(primary);
    info.hasAlpha = heif_image_handle_has_alpha_channel(primary) != 0;
    const int luma = std::max(heif_image_handle_get_luma_bits_per_pixel(primary), 1);
    const bool colour = heif_image_handle_get_chroma_bits_per_pixel(primary) > 0;
    info.bitsPerPixel = luma * ((colour ? 3 : 1) + (info.hasAlpha ? 1 : 0));
    info.frameCount = 1;
    info.orientation = 1;
    info.hasColourProfile = !ReadIccProfile(primary).empty();
}
