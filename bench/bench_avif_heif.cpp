// Decode of a 12-megapixel AVIF and HEIC (4000 x 3000, made here with libavif/aom and
// libheif/x265 on first use and kept in OUTDIR) into the library's 32-bit bitmap, beside
// the libraries' own decode to 8-bit RGBA in the same process with the same thread count:
// libavif's parse, frame decode and avifImageYUVToRGB; libheif's heif_decode_image to
// interleaved RGBA, each into an output it allocates. Rounds take turns so that a busy machine slows both alike. Prints the
// medians in milliseconds and the ratios.
//
// usage: bench_avif_heif OUTDIR [ROUNDS]

#include "codecs/avif_decoder.h"
#include "codecs/heif_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "bench_timing.h"

#include <avif/avif.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photograph-like picture: smooth colour fields with fine grain, RGB rows.
std::vector<uint8_t> MakePicture() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    uint32_t seed = 7;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>(seed >> 28) - 8;
            uint8_t* p = &rgb[(size_t{static_cast<size_t>(y)} * kWidth + x) * 3];
            p[0] = static_cast<uint8_t>(std::clamp(128 + static_cast<int>(90 * std::sin(x / 310.0 + y / 170.0)) + grain, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(x * 200 / kWidth + 20 + grain, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(y * 180 / kHeight + 40 + static_cast<int>(30 * std::cos(x / 97.0)) + grain, 0, 255));
        }
    return rgb;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> EncodeAvif(const std::vector<uint8_t>& rgbPixels) {
    avifImage* image = avifImageCreate(kWidth, kHeight, 8, AVIF_PIXEL_FORMAT_YUV420);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = AVIF_RGB_FORMAT_RGB;
    rgb.pixels = const_cast<uint8_t*>(rgbPixels.data());
    rgb.rowBytes = kWidth * 3;
    avifImageRGBToYUV(image, &rgb);
    avifEncoder* encoder = avifEncoderCreate();
    encoder->speed = AVIF_SPEED_FASTEST;
    encoder->maxThreads = 2;
    encoder->minQuantizer = encoder->maxQuantizer = 24;
    avifRWData output = AVIF_DATA_EMPTY;
    if (avifEncoderWrite(encoder, image, &output) != AVIF_RESULT_OK) std::exit(1);
    std::vector<uint8_t> bytes(output.data, output.data + output.size);
    avifRWDataFree(&output);
    avifEncoderDestroy(encoder);
    avifImageDestroy(image);
    return bytes;
}

heif_error Append(heif_context*, const void* data, size_t size, void* out) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(out);
    bytes->insert(bytes->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

std::vector<uint8_t> EncodeHeic(const std::vector<uint8_t>& rgbPixels) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 85);
    heif_encoder_set_parameter(encoder, "preset", "ultrafast");
    heif_image* image = nullptr;
    heif_image_create(kWidth, kHeight, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, 8);
    int stride = 0;
    uint8_t* rows = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < kHeight; ++y) std::copy_n(&rgbPixels[size_t{static_cast<size_t>(y)} * kWidth * 3], kWidth * 3, rows + static_cast<size_t>(y) * stride);
    if (heif_context_encode_image(context, image, encoder, nullptr, nullptr).code != heif_error_Ok) std::exit(1);
    std::vector<uint8_t> bytes;
    heif_writer writer{1, Append};
    heif_context_write(context, &writer, &bytes);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

int Threads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

// The output allocated per decode, as libavif's own avifRGBImageAllocatePixels does.
void LibavifDecode(const std::vector<uint8_t>& file, uint8_t& checksum) {
    avifDecoder* decoder = avifDecoderCreate();
    decoder->maxThreads = Threads();
    decoder->ignoreExif = decoder->ignoreXMP = AVIF_TRUE;
    avifDecoderSetIOMemory(decoder, file.data(), file.size());
    if (avifDecoderParse(decoder) != AVIF_RESULT_OK || avifDecoderNextImage(decoder) != AVIF_RESULT_OK) std::exit(2);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, decoder->image);
    rgb.format = AVIF_RGB_FORMAT_RGBA;
    rgb.depth = 8;
    avifRGBImageAllocatePixels(&rgb);
    if (avifImageYUVToRGB(decoder->image, &rgb) != AVIF_RESULT_OK) std::exit(2);
    checksum ^= rgb.pixels[rgb.rowBytes + 5];
    avifRGBImageFreePixels(&rgb);
    avifDecoderDestroy(decoder);
}

void LibheifDecode(const std::vector<uint8_t>& file, uint8_t& checksum) {
    heif_context* context = heif_context_alloc();
    heif_context_set_max_decoding_threads(context, Threads());
    heif_context_read_from_memory_without_copy(context, file.data(), file.size(), nullptr);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(context, &handle);
    heif_image* image = nullptr;
    if (heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code != heif_error_Ok)
        std::exit(3);
    int stride = 0;
    checksum ^= heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride)[stride + 5];
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
}

template <typename Decoder>
void OurDecode(const std::vector<uint8_t>& file) {
    Decoder decoder;
    CMemBitmap bitmap;
    decoder.DecodeMemory(file.data(), file.size(), bitmap, 32);
    if (bitmap.Width() != kWidth || bitmap.Height() != kHeight) std::exit(4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_avif_heif OUTDIR [ROUNDS]\n");
        return 1;
    }
    const std::string folder = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::filesystem::create_directories(folder);
    const std::string avifPath = folder + "/bench-12mp.avif";
    const std::string heicPath = folder + "/bench-12mp.heic";
    if (!std::filesystem::exists(avifPath) || !std::filesystem::exists(heicPath)) {
        const std::vector<uint8_t> picture = MakePicture();
        WriteFile(avifPath, EncodeAvif(picture));
        WriteFile(heicPath, EncodeHeic(picture));
    }
    const std::vector<uint8_t> avif = ReadFile(avifPath);
    const std::vector<uint8_t> heic = ReadFile(heicPath);
    uint8_t checksum = 0;

    std::vector<double> ourAvif, libAvif, ourHeic, libHeic;
    for (int round = 0; round < rounds; ++round) {
        libAvif.push_back(Milliseconds([&] { LibavifDecode(avif, checksum); }));
        ourAvif.push_back(Milliseconds([&] { OurDecode<CAVIFDecoder>(avif); }));
        libHeic.push_back(Milliseconds([&] { LibheifDecode(heic, checksum); }));
        ourHeic.push_back(Milliseconds([&] { OurDecode<CHEIFDecoder>(heic); }));
    }
    std::printf("12 MP, %d threads, median ms over %d rounds (checksum %u)\n", Threads(), rounds, checksum);
    // The fastest runs as well: on a busy machine they show what the code costs.
    const auto best = [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); };
    std::printf("AVIF: ours %.1f, libavif to RGBA %.1f, ratio %.3f (fastest %.1f / %.1f = %.3f) (target: at most 1.15)\n",
                Median(ourAvif), Median(libAvif), Median(ourAvif) / Median(libAvif), best(ourAvif), best(libAvif),
                best(ourAvif) / best(libAvif));
    std::printf("HEIC: ours %.1f, libheif to RGBA %.1f, ratio %.3f (fastest %.1f / %.1f = %.3f) (target: at most 1.15)\n",
                Median(ourHeic), Median(libHeic), Median(ourHeic) / Median(libHeic), best(ourHeic), best(libHeic),
                best(ourHeic) / best(libHeic));
    return 0;
}
