#include "format_registry.h"

#include "bmp_decoder.h"
#ifdef VT_HAVE_AVIF
#include "avif_animation.h"
#include "avif_decoder.h"
#endif
#ifdef VT_HAVE_HEIF
#include "heif_decoder.h"
#endif
#include "eps_decoder.h"
#include "gif_animation.h"
#include "gif_decoder.h"
#include "jpeg_decoder.h"
#include "metafile_decoder.h"
#include "pcx_decoder.h"
#include "pgm_decoder.h"
#include "pict_decoder.h"
#include "png_decoder.h"
#include "svg_signature.h"
#include "tga_decoder.h"
#include "tiff_decoder.h"
#include "unavailable_decoder.h"
#ifdef VT_HAVE_WEBP
#include "webp_animation.h"
#include "webp_decoder.h"
#endif

#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#ifdef VT_HAVE_JXL
#include "jxl_animation.h"
#include "jxl_decoder.h"
#endif
#ifdef VT_HAVE_SVG
#include "svg_decoder.h"
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

namespace {

bool OneOf(uint8_t value, std::initializer_list<uint8_t> values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

bool StartsWith(const uint8_t* b, std::initializer_list<uint8_t> bytes) {
    return std::equal(bytes.begin(), bytes.end(), b);
}

bool IsPng(const uint8_t* b, size_t) { return StartsWith(b, {0x89, 'P', 'N', 'G'}); }
bool IsGif(const uint8_t* b, size_t) { return StartsWith(b, {'G', 'I', 'F', '8'}); }
// A RIFF container whose form type is WEBP.
bool IsWebP(const uint8_t* b, size_t) {
    return StartsWith(b, {'R', 'I', 'F', 'F'}) && StartsWith(b + 8, {'W', 'E', 'B', 'P'});
}
bool IsTiff(const uint8_t* b, size_t) {
    return StartsWith(b, {0x49, 0x49, 0x2A, 0x00}) || StartsWith(b, {0x4D, 0x4D, 0x00, 0x2A});
}
// The start-of-image marker. Writers put the next marker right after it, but decoders skip
// stray bytes between markers and some files carry them there too.
bool IsJpeg(const uint8_t* b, size_t size) { return b[0] == 0xFF && b[1] == 0xD8 && size >= 3; }
bool IsEmf(const uint8_t* b, size_t size) { return IsEnhancedMetafile(b, size); }
bool IsPlaceableWmf(const uint8_t* b, size_t size) { return IsPlaceableMetafile(b, size); }
bool IsEps(const uint8_t* b, size_t size) { return HasEpsTiffPreview(b, size); }
// The version opcode after the 512-byte preamble, the picture size and the frame.
bool IsPict(const uint8_t* b, size_t size) {
    if (size <= 540) return false;
    const uint8_t* v = b + 522;
    return StartsWith(v, {0x00, 0x11, 0x02, 0xFF}) || StartsWith(v, {0x00, 0x11, 0x01}) ||
           StartsWith(v, {0x11, 0x01, 0x01, 0x00});
}
bool IsBmp(const uint8_t* b, size_t) { return b[0] == 'B' && b[1] == 'M'; }
// TGA files have no signature; these header fields hold values no other format's first
// bytes combine to (a JPEG's second byte alone fails the first test).
bool IsTga(const uint8_t* b, size_t) {
    return b[1] <= 1 && OneOf(b[2], {0, 1, 2, 3, 9, 10, 11}) && OneOf(b[7], {0, 8, 15, 16, 24, 32}) &&
           OneOf(b[16], {8, 15, 16, 24, 32});
}
bool IsPcx(const uint8_t* b, size_t) { return b[0] == 0x0A && b[2] == 0x01; }
bool IsPgm(const uint8_t* b, size_t) { return b[0] == 'P' && (b[1] == '2' || b[1] == '5'); }
// A bare codestream or the ISO-BMFF container's signature box.
bool IsJxl(const uint8_t* b, size_t) {
    return StartsWith(b, {0xFF, 0x0A}) ||
           StartsWith(b, {0x00, 0x00, 0x00, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A});
}
bool IsSvg(const uint8_t* b, size_t size) { return LooksLikeSvg(b, std::min(size, kDetectionHeaderSize)); }

// The brands of an ISO base media file's leading ftyp box: the major brand, then the
// compatible brands up to the box's end (within the detection header).
std::vector<std::string_view> FtypBrands(const uint8_t* b, size_t size) {
    if (size < 16 || !StartsWith(b + 4, {'f', 't', 'y', 'p'})) return {};
    const size_t boxSize = size_t{b[0]} << 24 | size_t{b[1]} << 16 | size_t{b[2]} << 8 | b[3];
    if (boxSize < 16 || boxSize % 4 != 0) return {};
    const size_t end = std::min({boxSize, size, kDetectionHeaderSize});
    const auto brand = [b](size_t at) { return std::string_view(reinterpret_cast<const char*>(b + at), 4); };
    std::vector<std::string_view> brands{brand(8)};
    for (size_t at = 16; at + 4 <= end; at += 4) brands.push_back(brand(at));
    return brands;
}
bool HasBrand(const std::vector<std::string_view>& brands, std::initializer_list<std::string_view> wanted) {
    return std::any_of(brands.begin(), brands.end(), [&](std::string_view brand) {
        return std::find(wanted.begin(), wanted.end(), brand) != wanted.end();
    });
}
bool IsAvif(const uint8_t* b, size_t size) { return HasBrand(FtypBrands(b, size), {"avif", "avis"}); }
// HEVC-coded HEIF, or the structural brands with AV1 coding that is not AVIF.
bool IsHeif(const uint8_t* b, size_t size) {
    const std::vector<std::string_view> brands = FtypBrands(b, size);
    return HasBrand(brands, {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1"}) &&
           !HasBrand(brands, {"avif", "avis"});
}

template <typename Decoder>
std::unique_ptr<CImageDecoder> Make() {
    return std::make_unique<Decoder>();
}

constexpr char kAvifName[] = "AVIF";
constexpr char kHeifName[] = "HEIF";
#ifdef VT_HAVE_AVIF
constexpr auto MakeAvifDecoder = Make<CAVIFDecoder>;
constexpr auto OpenAvifFrames = OpenAvifAnimation;
#else
std::unique_ptr<CImageDecoder> MakeAvifDecoder() { return std::make_unique<CUnavailableDecoder>(kAvifName); }
constexpr std::unique_ptr<CAnimationReader> (*OpenAvifFrames)(std::vector<uint8_t>, const CDecodeContext&) = nullptr;
#endif
#ifdef VT_HAVE_HEIF
constexpr auto MakeHeifDecoder = Make<CHEIFDecoder>;
#else
std::unique_ptr<CImageDecoder> MakeHeifDecoder() { return std::make_unique<CUnavailableDecoder>(kHeifName); }
#endif

// A PICT decoder with the JPEG decoder its QuickTime pictures need.
struct JpegForPict {
    CJPEGDecoder jpeg;
};
class CPICTWithJPEGDecoder : private JpegForPict, public CPICTDecoder {
public:
    CPICTWithJPEGDecoder() : CPICTDecoder(&jpeg) {}
};

#ifdef VT_HAVE_WEBP
std::unique_ptr<CImageDecoder> MakeWebPDecoder() { return std::make_unique<CWebPDecoder>(); }
constexpr auto kOpenWebPAnimation = OpenWebPAnimation;
#else
std::unique_ptr<CImageDecoder> MakeWebPDecoder() { return std::make_unique<CUnavailableDecoder>("WebP"); }
constexpr std::unique_ptr<CAnimationReader> (*kOpenWebPAnimation)(std::vector<uint8_t>, const CDecodeContext&) = nullptr;
#endif
#ifdef VT_HAVE_JXL
constexpr auto MakeJxlDecoder = Make<CJXLDecoder>;
constexpr auto OpenJxlFrames = OpenJXLAnimation;
#else
std::unique_ptr<CImageDecoder> MakeJxlDecoder() { return std::make_unique<CUnavailableDecoder>("JPEG XL"); }
constexpr decltype(FormatEntry::openAnimation) OpenJxlFrames = nullptr;
#endif
#ifdef VT_HAVE_SVG
constexpr auto MakeSvgDecoder = Make<CSVGDecoder>;
#else
std::unique_ptr<CImageDecoder> MakeSvgDecoder() { return std::make_unique<CUnavailableDecoder>("SVG"); }
#endif

const std::vector<FormatEntry>& Registry() {
    static const std::vector<FormatEntry> registry = {
        {ImageFormat::AVIF, kAvifName, "AVIF file recognized.\n", IsAvif, {"avif"}, {"image/avif"}, MakeAvifDecoder,
         kCarriesAlpha | kCarriesFrames | kCarriesOrientation | kCarriesColourProfile, OpenAvifFrames},
        {ImageFormat::HEIF, kHeifName, "HEIF file recognized.\n", IsHeif, {"heic", "heif", "hif"},
         {"image/heic", "image/heif"}, MakeHeifDecoder,
         kCarriesAlpha | kCarriesColourProfile},
        {ImageFormat::PNG, "PNG", "PNG file recognized.\n", IsPng, {"png"}, {"image/png"}, Make<CPNGDecoder>,
         kCarriesAlpha | kCarriesOrientation | kCarriesColourProfile},
        {ImageFormat::GIF, "GIF", "GIF file recognized.\n", IsGif, {"gif"}, {"image/gif"}, Make<CGIFDecoder>,
         kCarriesAlpha | kCarriesFrames, OpenGifAnimation},
        {ImageFormat::WEBP, "WEBP", "WebP file recognized.\n", IsWebP, {"webp"}, {"image/webp"}, MakeWebPDecoder,
         kCarriesAlpha | kCarriesFrames | kCarriesOrientation | kCarriesColourProfile, kOpenWebPAnimation},
        {ImageFormat::TIFF, "TIFF", "TIFF file recognized.\n", IsTiff, {"tif", "tiff"}, {"image/tiff"},
         Make<CTIFFDecoder>, kCarriesAlpha | kCarriesFrames | kCarriesOrientation | kCarriesColourProfile},
        {ImageFormat::JPEG, "JPEG", "JPEG file recognized.\n", IsJpeg, {"jpg", "jpeg", "jpe"}, {"image/jpeg"},
         Make<CJPEGDecoder>, kCarriesOrientation | kCarriesColourProfile},
        {ImageFormat::JXL, "JXL", "JPEG XL file recognized.\n", IsJxl, {"jxl"}, {"image/jxl"}, MakeJxlDecoder,
         kCarriesAlpha | kCarriesFrames | kCarriesColourProfile, OpenJxlFrames},
        {ImageFormat::EMF, "EMF", "EMF file recognized.\n", IsEmf, {"emf"}, {"image/emf", "image/x-emf"},
         Make<CMetafileDecoder>, kDrawsText},
        {ImageFormat::WMF, "WMF", "WMF file recognized.\n", IsPlaceableWmf, {"wmf"}, {"image/wmf", "image/x-wmf"},
         Make<CMetafileDecoder>, kDrawsText},
        {ImageFormat::EPS, "EPS", "TIFF preview in EPS file recognized.\n", IsEps, {"eps"}, {"image/x-eps"},
         Make<CEPSDecoder>, kCarriesAlpha | kCarriesOrientation | kCarriesColourProfile},
        {ImageFormat::PICT, "PICT", "Mac PICT recognized.\n", IsPict, {"pct", "pict"}, {"image/x-pict"},
         Make<CPICTWithJPEGDecoder>, kDrawsText},
        {ImageFormat::SVG, "SVG", "SVG file recognized.\n", IsSvg, {"svg", "svgz"}, {"image/svg+xml"}, MakeSvgDecoder,
         kCarriesAlpha},
        {ImageFormat::BMP, "BMP", "Windows bitmap recognized.\n", IsBmp, {"bmp", "dib"},
         {"image/bmp", "image/x-bmp", "image/x-ms-bmp"}, Make<CBMPDecoder>, kCarriesAlpha},
        {ImageFormat::TGA, "TGA", "TGA file recognized.\n", IsTga, {"tga"}, {"image/x-tga", "image/x-targa"},
         Make<CTGADecoder>, kCarriesAlpha},
        {ImageFormat::PCX, "PCX", "PCX file recognized.\n", IsPcx, {"pcx"}, {"image/x-pcx", "image/vnd.zbrush.pcx"},
         Make<CPCXDecoder>, 0},
        {ImageFormat::PGM, "PGM", "PGM file recognized.\n", IsPgm, {"pgm"}, {"image/x-portable-graymap"},
         Make<CPGMDecoder>, 0},
    };
    return registry;
}

// A file name's own extension, lower case; empty when the last component has none.
std::string OwnExtension(std::string_view fileName) {
    const size_t slash = fileName.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    std::string extension(base.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return extension;
}

template <typename Field>
std::vector<std::string> Collect(Field field) {
    std::vector<std::string> all;
    for (const FormatEntry& entry : Registry())
        for (std::string_view value : entry.*field)
            if (std::find(all.begin(), all.end(), value) == all.end()) all.emplace_back(value);
    return all;
}

}  // namespace

std::span<const FormatEntry> FormatRegistry() { return Registry(); }

const FormatEntry* FindFormat(ImageFormat format) {
    for (const FormatEntry& entry : Registry())
        if (entry.format == format) return &entry;
    return nullptr;
}

const char* FormatName(ImageFormat format) {
    const FormatEntry* entry = FindFormat(format);
    return entry != nullptr ? entry->name : "unknown";
}

ImageFormat DetectFormat(const uint8_t* header, size_t size) {
    std::array<uint8_t, kDetectionHeaderSize> b{};
    if (size != 0) std::memcpy(b.data(), header, std::min(size, b.size()));
    for (const FormatEntry& entry : Registry())
        if (entry.matches != nullptr && entry.matches(b.data(), size)) return entry.format;
    return ImageFormat::None;
}

ImageFormat DetectFormat(const uint8_t* header, size_t size, std::string_view fileName) {
    if (const ImageFormat byContent = DetectFormat(header, size); byContent != ImageFormat::None) return byContent;
    const std::string extension = OwnExtension(fileName);
    if (extension.empty()) return ImageFormat::None;
    // Only a 16-bit metafile without placeable header lacks a signature, whatever its name
    // says: an enhanced metafile would have matched its own, so ".emf" here holds a 16-bit one.
    if (extension == "wmf" || extension == "emf") return ImageFormat::WMF;
    // Compressed SVG is known by its name, gzip's signature saying nothing of the content;
    // so is SVG whose root comes after long comments (librsvg refuses what is not SVG).
    if (extension == "svgz" && size >= 2 && header[0] == 0x1F && header[1] == 0x8B) return ImageFormat::SVG;
    if (extension == "svg") return ImageFormat::SVG;
    return ImageFormat::None;
}

std::vector<std::string> AllImageExtensions() { return Collect(&FormatEntry::extensions); }
std::vector<std::string> AllImageMimeTypes() { return Collect(&FormatEntry::mimeTypes); }
