#include "colour_management.h"

#include "decode_context.h"
#include "image_bitmap.h"
#include "row_bands.h"
#include "trace.h"

#include <lcms2.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// ---- LittleCMS handles ----

void LogLittleCmsError(cmsContext, cmsUInt32Number, const char* text) {
    Trace(1, FormatText("LittleCMS: %s\n", text));
}

// One context for the library, whose error handler writes to the trace of the decode that
// asked (trace lines go to the calling thread's decode).
cmsContext LittleCms() {
    static const cmsContext context = [] {
        cmsContext made = cmsCreateContext(nullptr, nullptr);
        cmsSetLogErrorHandlerTHR(made, LogLittleCmsError);
        return made;
    }();
    return context;
}

struct CloseProfile {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, CloseProfile>;

struct DeleteTransform {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using LittleCmsTransform = std::unique_ptr<void, DeleteTransform>;

struct FreeCurve {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using ToneCurve = std::unique_ptr<cmsToneCurve, FreeCurve>;

// sRGB's tone curve: IEC 61966-2-1 as ICC parametric curve type 4.
ToneCurve SrgbCurve() {
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return ToneCurve(cmsBuildParametricToneCurve(LittleCms(), 4, parameters));
}

Profile SrgbProfile() { return Profile(cmsCreate_sRGBProfileTHR(LittleCms())); }

// ---- conversions ----

// A conversion of pixels in place, alpha kept. Made once, then only read: several threads
// may convert with one at the same time.
class ColourTransform {
public:
    virtual ~ColourTransform() = default;
    virtual void Convert(BGRA* pixels, size_t count) const = 0;
};

// Both profiles matrix and tone curves (nearly every camera and display profile): tone
// curve, 3 x 3 matrix and inverse tone curve, from tables. LittleCMS's own transform of such
// pairs costs twice a JPEG decode of the photograph on one core, most of it in its general
// pixel packing. Here each 8-bit sample looks up its linear light already multiplied into
// the matrix's column (four floats, one vector), so a pixel is three vector loads, two adds
// and three lookups of the inverse curves; the sums run in one fixed order, so the vector
// and the plain path give the same bytes.
class MatrixShaperTransform : public ColourTransform {
public:
    // Linear light in units of 1 / kOne indexes the inverse curves' tables, the precision of
    // LittleCMS's 8-bit matrix-shaper optimisation.
    static constexpr int kOne = 1 << 14;
    static constexpr size_t kEncodedEntries = kOne + 1;

    // Per source channel and 8-bit sample: its linear light times kOne times the matrix's
    // column, as target R, G, B and an unused fourth.
    using Contributions = std::array<std::array<std::array<float, 4>, 256>, 3>;

    // encoded: per target channel kEncodedEntries samples, for linear light 0 .. kOne.
    MatrixShaperTransform(const Contributions& contributions, std::vector<uint8_t> encoded)
        : contributions_(contributions), encoded_(std::move(encoded)) {}

    void Convert(BGRA* pixels, size_t count) const override {
        const uint8_t* red = encoded_.data();
        const uint8_t* green = red + kEncodedEntries;
        const uint8_t* blue = green + kEncodedEntries;
        for (size_t i = 0; i < count; ++i) {
            BGRA& p = pixels[i];
            const auto& r = contributions_[0][p.r];
            const auto& g = contributions_[1][p.g];
            const auto& b = contributions_[2][p.b];
#if defined(__SSE2__)
            const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_load_ps(r.data()), _mm_load_ps(g.data())), _mm_load_ps(b.data()));
            const __m128 clamped = _mm_min_ps(_mm_max_ps(sum, _mm_setzero_ps()), _mm_set1_ps(static_cast<float>(kOne)));
            alignas(16) std::array<int32_t, 4> index;
            _mm_store_si128(reinterpret_cast<__m128i*>(index.data()),
                            _mm_cvttps_epi32(_mm_add_ps(clamped, _mm_set1_ps(0.5f))));
            p.r = red[index[0]];
            p.g = green[index[1]];
            p.b = blue[index[2]];
#else
            p.r = red[Index(r[0] + g[0] + b[0])];
            p.g = green[Index(r[1] + g[1] + b[1])];
            p.b = blue[Index(r[2] + g[2] + b[2])];
#endif
        }
    }

private:
#if !defined(__SSE2__)
    static size_t Index(float v) { return static_cast<size_t>(std::min(std::max(v, 0.0f), static_cast<float>(kOne)) + 0.5f); }
#endif

    alignas(16) Contributions contributions_;
    std::vector<uint8_t> encoded_;
};

// Anything else LittleCMS converts (profiles with lookup tables).
class GeneralTransform : public ColourTransform {
public:
    explicit GeneralTransform(LittleCmsTransform transform) : transform_(std::move(transform)) {}

    void Convert(BGRA* pixels, size_t count) const override {
        cmsDoTransform(transform_.get(), pixels, pixels, static_cast<cmsUInt32Number>(count));
    }

private:
    LittleCmsTransform transform_;
};

// A grey profile's conversion of each level, applied to each channel: exact for grey
// pixels, which are the ones such a profile describes.
class ChannelTableTransform : public ColourTransform {
public:
    explicit ChannelTableTransform(const std::array<std::array<uint8_t, 3>, 256>& levels) : levels_(levels) {}

    void Convert(BGRA* pixels, size_t count) const override {
        for (size_t i = 0; i < count; ++i) {
            BGRA& p = pixels[i];
            p.r = levels_[p.r][0];
            p.g = levels_[p.g][1];
            p.b = levels_[p.b][2];
        }
    }

private:
    std::array<std::array<uint8_t, 3>, 256> levels_;  // grey level -> R, G, B
};

// ---- what the pixels are in ----

// Where a picture's colours are described: nowhere (sRGB), by an ICC profile, or by PNG's
// gAMA and cHRM chunks (their values as bytes).
struct Source {
    enum Kind : uint8_t { kSrgb, kIcc, kPngChunks };
    Kind kind = kSrgb;
    std::vector<uint8_t> bytes;

    friend bool operator==(const Source&, const Source&) = default;
};

constexpr double kSrgbWhite[2] = {0.3127, 0.3290};
constexpr double kSrgbPrimaries[3][2] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};

// PNG writers mark sRGB pictures with gAMA 45455 (1/2.2) and, when they write cHRM, sRGB's
// chromaticities; the chunks store hundred-thousandths.
bool ChunksMeanSrgb(const PngColourChunks& png) {
    if (png.hasGamma && std::abs(png.gamma - 1 / 2.2) > 0.0001) return false;
    if (!png.hasChromaticities) return true;
    const double given[8] = {png.whiteX, png.whiteY, png.redX, png.redY, png.greenX, png.greenY, png.blueX, png.blueY};
    const double srgb[8] = {kSrgbWhite[0],         kSrgbWhite[1],         kSrgbPrimaries[0][0], kSrgbPrimaries[0][1],
                            kSrgbPrimaries[1][0], kSrgbPrimaries[1][1], kSrgbPrimaries[2][0], kSrgbPrimaries[2][1]};
    for (int i = 0; i < 8; ++i)
        if (std::abs(given[i] - srgb[i]) > 0.0005) return false;
    return true;
}

template <typename Value>
void AppendBytes(std::vector<uint8_t>& bytes, const Value& value) {
    const auto* first = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), first, first + sizeof value);
}

Source SourceOf(const ImageMetadata& metadata) {
    if (!metadata.iccProfile.empty()) return {Source::kIcc, metadata.iccProfile};
    const PngColourChunks& png = metadata.pngColour;
    if (png.srgb || (!png.hasGamma && !png.hasChromaticities) || ChunksMeanSrgb(png)) return {};
    Source source{Source::kPngChunks, {}};
    for (double value : {png.hasGamma ? png.gamma : 0.0, png.hasChromaticities ? 1.0 : 0.0, png.whiteX, png.whiteY,
                         png.redX, png.redY, png.greenX, png.greenY, png.blueX, png.blueY})
        AppendBytes(source.bytes, value);
    return source;
}

// The RGB profile PNG's chunks describe (their values as SourceOf stored them), or nullptr
// with why in failure.
Profile ProfileOfChunks(const std::vector<uint8_t>& bytes, std::string& failure) {
    std::array<double, 10> values{};
    std::memcpy(values.data(), bytes.data(), sizeof values);
    const double gamma = values[0];
    // Exponents beyond these make nearly every level black or white: a damaged chunk.
    if (gamma != 0 && !(1 / gamma >= 0.1 && 1 / gamma <= 10)) {
        failure = FormatText("the PNG gamma %g is out of range", gamma);
        return nullptr;
    }
    cmsCIExyY white{kSrgbWhite[0], kSrgbWhite[1], 1};
    cmsCIExyYTRIPLE primaries{{kSrgbPrimaries[0][0], kSrgbPrimaries[0][1], 1},
                              {kSrgbPrimaries[1][0], kSrgbPrimaries[1][1], 1},
                              {kSrgbPrimaries[2][0], kSrgbPrimaries[2][1], 1}};
    if (values[1] != 0) {
        for (size_t i = 2; i < values.size(); ++i) {
            // x in 0..1, y above 0 (it divides).
            if (!(values[i] >= 0 && values[i] <= 1) || (i % 2 == 1 && values[i] == 0)) {
                failure = "the PNG chromaticities are out of range";
                return nullptr;
            }
        }
        white = {values[2], values[3], 1};
        primaries = {{values[4], values[5], 1}, {values[6], values[7], 1}, {values[8], values[9], 1}};
    }
    const ToneCurve curve = gamma != 0 ? ToneCurve(cmsBuildGamma(LittleCms(), 1 / gamma)) : SrgbCurve();
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    Profile profile(curve ? cmsCreateRGBProfileTHR(LittleCms(), &white, &primaries, curves) : nullptr);
    if (!profile) failure = "LittleCMS cannot make a profile of the PNG gamma and chromaticities";
    return profile;
}

// ---- telling profiles apart ----

bool HasLookupTables(cmsHPROFILE profile) {
    return cmsIsCLUT(profile, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT) ||
           cmsIsCLUT(profile, INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT);
}

// Matrix and tone curves only: what the fast conversion handles.
bool IsMatrixShaper(cmsHPROFILE profile) {
    return cmsGetColorSpace(profile) == cmsSigRgbData && cmsIsMatrixShaper(profile) && !HasLookupTables(profile);
}

const cmsToneCurve* Curve(cmsHPROFILE profile, cmsTagSignature tag) {
    return static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
}

const cmsCIEXYZ* Colorant(cmsHPROFILE profile, cmsTagSignature tag) {
    return static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
}

// Two tone curves that no 8-bit sample tells apart.
bool SameCurve(const cmsToneCurve* a, const cmsToneCurve* b) {
    if (a == nullptr || b == nullptr) return false;
    for (int i = 0; i <= 64; ++i) {
        const float v = static_cast<float>(i) / 64;
        if (std::abs(cmsEvalToneCurveFloat(a, v) - cmsEvalToneCurveFloat(b, v)) > 1.0f / 1024) return false;
    }
    return true;
}

constexpr cmsTagSignature kColorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
constexpr cmsTagSignature kCurves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};

// sRGB by what it does, whoever wrote it: sRGB's colorants (within what the profiles in
// circulation round them to) and tone curves, or a grey profile of sRGB's tone curve.
bool IsSrgb(cmsHPROFILE profile) {
    const Profile srgb = SrgbProfile();
    if (!srgb) return false;
    if (cmsGetColorSpace(profile) == cmsSigGrayData)
        return !HasLookupTables(profile) && SameCurve(Curve(profile, cmsSigGrayTRCTag), Curve(srgb.get(), cmsSigRedTRCTag));
    if (!IsMatrixShaper(profile)) return false;
    for (int c = 0; c < 3; ++c) {
        const cmsCIEXYZ* given = Colorant(profile, kColorants[c]);
        const cmsCIEXYZ* expected = Colorant(srgb.get(), kColorants[c]);
        if (given == nullptr || expected == nullptr || std::abs(given->X - expected->X) > 0.002 ||
            std::abs(given->Y - expected->Y) > 0.002 || std::abs(given->Z - expected->Z) > 0.002)
            return false;
        if (!SameCurve(Curve(profile, kCurves[c]), Curve(srgb.get(), kCurves[c]))) return false;
    }
    return true;
}

std::string ColourSpaceName(cmsHPROFILE profile) {
    const uint32_t signature = cmsGetColorSpace(profile);
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((signature >> shift) & 0xFF);
        if (c != ' ') name += c;
    }
    return name;
}

// ---- making conversions ----

using Matrix = std::array<std::array<double, 3>, 3>;

// Linear RGB -> XYZ: the colorants as columns.
bool ColorantMatrix(cmsHPROFILE profile, Matrix& matrix) {
    for (int c = 0; c < 3; ++c) {
        const cmsCIEXYZ* colorant = Colorant(profile, kColorants[c]);
        if (colorant == nullptr) return false;
        matrix[0][static_cast<size_t>(c)] = colorant->X;
        matrix[1][static_cast<size_t>(c)] = colorant->Y;
        matrix[2][static_cast<size_t>(c)] = colorant->Z;
    }
    return true;
}

bool Invert(const Matrix& m, Matrix& inverse) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (std::abs(det) < 1e-9) return false;
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c) {
            // Cofactor of (c, r) over the determinant.
            const size_t r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    return true;
}

// The matrix from linear source RGB to linear target RGB, [target channel][source channel].
bool LinearMatrix(cmsHPROFILE source, cmsHPROFILE target, std::array<std::array<float, 3>, 3>& matrix) {
    Matrix toXyz{};
    Matrix fromXyz{};
    Matrix targetToXyz{};
    if (!ColorantMatrix(source, toXyz) || !ColorantMatrix(target, targetToXyz) || !Invert(targetToXyz, fromXyz))
        return false;
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c) {
            double sum = 0;
            for (size_t k = 0; k < 3; ++k) sum += fromXyz[r][k] * toXyz[k][c];
            matrix[r][c] = static_cast<float>(sum);
        }
    return true;
}

// Per target channel, the 8-bit level of linear light 0 .. kOne (in units of 1 / kOne)
// through the inverse of the target's tone curve.
bool EncodingTables(cmsHPROFILE target, std::vector<uint8_t>& encoded) {
    constexpr int kOne = MatrixShaperTransform::kOne;
    constexpr size_t kEntries = MatrixShaperTransform::kEncodedEntries;
    encoded.assign(3 * kEntries, 0);
    for (size_t c = 0; c < 3; ++c) {
        const cmsToneCurve* out = Curve(target, kCurves[c]);
        if (out == nullptr) return false;
        const ToneCurve inverse(cmsReverseToneCurve(out));
        if (!inverse) return false;
        for (size_t i = 0; i < kEntries; ++i) {
            const float level = std::clamp(cmsEvalToneCurveFloat(inverse.get(), static_cast<float>(i) / kOne), 0.0f, 1.0f);
            encoded[c * kEntries + i] = static_cast<uint8_t>(std::lround(level * 255));
        }
    }
    return true;
}

std::shared_ptr<const ColourTransform> MatrixShaper(cmsHPROFILE source, cmsHPROFILE target) {
    std::array<std::array<float, 3>, 3> matrix{};
    std::vector<uint8_t> encoded;
    if (!LinearMatrix(source, target, matrix) || !EncodingTables(target, encoded)) return nullptr;
    constexpr int kOne = MatrixShaperTransform::kOne;
    auto contributions = std::make_unique<MatrixShaperTransform::Contributions>();
    for (size_t c = 0; c < 3; ++c) {
        const cmsToneCurve* in = Curve(source, kCurves[c]);
        if (in == nullptr) return nullptr;
        for (size_t v = 0; v < 256; ++v) {
            const float linear = std::clamp(cmsEvalToneCurveFloat(in, static_cast<float>(v) / 255), 0.0f, 1.0f) * kOne;
            for (size_t r = 0; r < 3; ++r) (*contributions)[c][v][r] = matrix[r][c] * linear;
        }
    }
    return std::make_shared<MatrixShaperTransform>(*contributions, std::move(encoded));
}

// 16-bit RGB samples between two matrix-and-curve profiles, into 8-bit BGRA (alpha left to
// the caller): each sample's linear light from a table of all 65536 levels, the matrix,
// and the target's inverse curves from the 8-bit path's tables. LittleCMS's own transform
// of 16-bit samples into 8 bits takes ten times the decode of the picture.
class WideMatrixShaper {
public:
    static std::unique_ptr<const WideMatrixShaper> Make(cmsHPROFILE source, cmsHPROFILE target) {
        auto made = std::unique_ptr<WideMatrixShaper>(new WideMatrixShaper);
        if (!LinearMatrix(source, target, made->matrix_) || !EncodingTables(target, made->encoded_)) return nullptr;
        for (size_t c = 0; c < 3; ++c) {
            const cmsToneCurve* in = Curve(source, kCurves[c]);
            if (in == nullptr) return nullptr;
            made->linear_[c].resize(65536);
            for (size_t v = 0; v < 65536; ++v)
                made->linear_[c][v] = std::clamp(cmsEvalToneCurveFloat(in, static_cast<float>(v) / 65535), 0.0f, 1.0f) *
                                      MatrixShaperTransform::kOne;
        }
        return made;
    }

    // stride: samples from one pixel to the next (3, or 4 with alpha).
    void Convert(const uint16_t* samples, size_t stride, BGRA* out, size_t count) const {
        constexpr size_t kEntries = MatrixShaperTransform::kEncodedEntries;
        constexpr float kOne = MatrixShaperTransform::kOne;
        for (size_t i = 0; i < count; ++i, samples += stride) {
            const float r = linear_[0][samples[0]], g = linear_[1][samples[1]], b = linear_[2][samples[2]];
            uint8_t levels[3];
            for (size_t k = 0; k < 3; ++k) {
                const float v = std::clamp(matrix_[k][0] * r + matrix_[k][1] * g + matrix_[k][2] * b, 0.0f, kOne);
                levels[k] = encoded_[k * kEntries + static_cast<size_t>(v + 0.5f)];
            }
            out[i].r = levels[0];
            out[i].g = levels[1];
            out[i].b = levels[2];
        }
    }

private:
    WideMatrixShaper() = default;

    std::array<std::vector<float>, 3> linear_;  // times kOne
    std::array<std::array<float, 3>, 3> matrix_{};
    std::vector<uint8_t> encoded_;
};

std::shared_ptr<const ColourTransform> GreyLevels(cmsHPROFILE source, cmsHPROFILE target) {
    // LittleCMS's optimised grey transforms lose dark levels (linear level 1 shows as 6 for
    // sRGB's 13); 256 levels through its exact pipeline cost nothing.
    const LittleCmsTransform transform(cmsCreateTransformTHR(LittleCms(), source, TYPE_GRAY_8, target, TYPE_RGB_8,
                                                             INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
    if (!transform) return nullptr;
    std::array<uint8_t, 256> grey{};
    for (size_t v = 0; v < grey.size(); ++v) grey[v] = static_cast<uint8_t>(v);
    std::array<std::array<uint8_t, 3>, 256> levels{};
    cmsDoTransform(transform.get(), grey.data(), levels.data(), 256);
    return std::make_shared<ChannelTableTransform>(levels);
}

}  // namespace

struct CColourRowConverter::Rows {
    LittleCmsTransform transform;
    std::unique_ptr<const WideMatrixShaper> matrixShaper;  // RGB samples, in place of the transform
    // Grey samples: the colour of each 16-bit level, alpha unset. LittleCMS's optimised
    // grey transforms lose dark levels (linear 383 / 65535 shows as 9 for sRGB's 18), so
    // the table comes from its exact pipeline, once.
    std::vector<BGRA> greyLevels;
};

namespace {

// What a cache entry holds: a conversion of BGRA pixels in place or of a decoder's samples
// into BGRA, none needed (identity), or why none can be made.
struct Conversion {
    std::shared_ptr<const ColourTransform> transform;
    std::shared_ptr<const CColourRowConverter::Rows> rows;
    bool identity = false;
    std::string failure;
};

Conversion Fail(std::string why) { return {nullptr, nullptr, false, std::move(why)}; }

bool HasAlpha(DecoderSamples samples) {
    return samples == DecoderSamples::GreyAlpha16 || samples == DecoderSamples::Rgba16;
}

// LittleCMS's transform from a decoder's samples described by profile (of colour space
// space) into BGRA; the alpha byte is left to the caller.
Conversion MakeRowConversion(cmsHPROFILE profile, cmsColorSpaceSignature space, cmsHPROFILE target,
                             DecoderSamples samples) {
    const bool alpha = HasAlpha(samples);
    auto rows = std::make_shared<CColourRowConverter::Rows>();
    cmsUInt32Number format = 0;
    switch (samples) {
    case DecoderSamples::Cmyk8:
    case DecoderSamples::InvertedCmyk8:
        if (space != cmsSigCmykData) return Fail("the profile does not describe CMYK inks");
        format = samples == DecoderSamples::Cmyk8 ? TYPE_CMYK_8 : TYPE_CMYK_8_REV;
        break;
    case DecoderSamples::Grey16:
    case DecoderSamples::GreyAlpha16: {
        // An RGB profile describes grey samples as R = G = B.
        if (space != cmsSigGrayData && space != cmsSigRgbData) return Fail("the profile does not describe grey samples");
        const bool rgb = space == cmsSigRgbData;
        const LittleCmsTransform exact(cmsCreateTransformTHR(LittleCms(), profile, rgb ? TYPE_RGB_16 : TYPE_GRAY_16, target,
                                                             TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                                             cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
        if (!exact) return Fail("LittleCMS cannot convert from the picture's colour profile to the target");
        std::vector<uint16_t> levels(rgb ? 3 * 65536 : 65536);
        for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<uint16_t>(rgb ? i / 3 : i);
        rows->greyLevels.resize(65536);
        cmsDoTransform(exact.get(), levels.data(), rows->greyLevels.data(), 65536);
        return {nullptr, std::move(rows), false, {}};
    }
    case DecoderSamples::Rgb16:
    case DecoderSamples::Rgba16:
        if (space != cmsSigRgbData) return Fail("the profile does not describe RGB samples");
        if (IsMatrixShaper(profile) && IsMatrixShaper(target)) rows->matrixShaper = WideMatrixShaper::Make(profile, target);
        if (rows->matrixShaper) return {nullptr, std::move(rows), false, {}};
        format = alpha ? TYPE_RGBA_16 : TYPE_RGB_16;
        break;
    }
    // No cache inside the transform, so that one transform may run on several threads.
    rows->transform.reset(cmsCreateTransformTHR(LittleCms(), profile, format, target, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                                cmsFLAGS_NOCACHE));
    if (!rows->transform) return Fail("LittleCMS cannot convert from the picture's colour profile to the target");
    return {nullptr, std::move(rows), false, {}};
}

// samples: a decoder's samples into BGRA; none: BGRA pixels in place.
Conversion MakeConversion(const Source& source, std::span<const uint8_t> targetBytes,
                          std::optional<DecoderSamples> samples) {
    const Profile target(targetBytes.empty() ? SrgbProfile().release()
                                             : cmsOpenProfileFromMemTHR(LittleCms(), targetBytes.data(),
                                                                        static_cast<cmsUInt32Number>(targetBytes.size())));
    if (!target) return Fail("LittleCMS cannot read the target profile");
    if (cmsGetColorSpace(target.get()) != cmsSigRgbData)
        return Fail("the target profile is of colour space " + ColourSpaceName(target.get()) + ", not RGB");
    if (source.kind == Source::kIcc && std::ranges::equal(source.bytes, targetBytes)) return {nullptr, nullptr, true, {}};

    std::string failure;
    Profile profile;
    switch (source.kind) {
    case Source::kSrgb:
        profile = SrgbProfile();
        break;
    case Source::kIcc:
        profile.reset(cmsOpenProfileFromMemTHR(LittleCms(), source.bytes.data(),
                                               static_cast<cmsUInt32Number>(source.bytes.size())));
        if (!profile) return Fail("LittleCMS cannot read the picture's colour profile");
        break;
    case Source::kPngChunks:
        profile = ProfileOfChunks(source.bytes, failure);
        if (!profile) return Fail(failure);
        break;
    }
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
    if ((source.kind == Source::kSrgb || IsSrgb(profile.get())) && (targetBytes.empty() || IsSrgb(target.get())))
        return {nullptr, nullptr, true, {}};
    if (samples) return MakeRowConversion(profile.get(), space, target.get(), *samples);
    if (space != cmsSigRgbData && space != cmsSigGrayData)
        return Fail("a profile of colour space " + ColourSpaceName(profile.get()) +
                    " describes samples the decoder has already made RGB of");

    std::shared_ptr<const ColourTransform> transform;
    if (space == cmsSigGrayData) {
        transform = GreyLevels(profile.get(), target.get());
    } else if (IsMatrixShaper(profile.get()) && IsMatrixShaper(target.get())) {
        transform = MatrixShaper(profile.get(), target.get());
    }
    if (!transform && space == cmsSigRgbData) {
        // No cache inside the transform, so that one transform may run on several threads.
        LittleCmsTransform general(cmsCreateTransformTHR(LittleCms(), profile.get(), TYPE_BGRA_8, target.get(),
                                                         TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                                         cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA));
        if (general) transform = std::make_shared<GeneralTransform>(std::move(general));
    }
    if (!transform) return Fail("LittleCMS cannot convert from the picture's colour profile to the target");
    return {std::move(transform), nullptr, false, {}};
}

// ---- the cache ----

// Recently used conversions by source and target. Entries are shared: a conversion stays
// alive while a picture uses it, also when it leaves the cache meanwhile.
class ConversionCache {
public:
    std::shared_ptr<const Conversion> Find(const Source& source, std::span<const uint8_t> target,
                                           std::optional<DecoderSamples> samples = std::nullopt) {
        const size_t hash = Hash(source, target, samples);
        const auto matches = [&](const Entry& entry) {
            return entry.hash == hash && entry.samples == samples && entry.source == source &&
                   std::ranges::equal(entry.target, target);
        };
        {
            const std::lock_guard lock(mutex_);
            for (Entry& entry : entries_)
                if (matches(entry)) {
                    entry.lastUse = ++uses_;
                    return entry.conversion;
                }
        }
        // Made outside the lock: other pictures need not wait for this one's profiles. Two
        // threads that miss at once each make one, and the second keeps the first's.
        auto made = std::make_shared<const Conversion>(MakeConversion(source, target, samples));
        const std::lock_guard lock(mutex_);
        for (Entry& entry : entries_)
            if (matches(entry)) return entry.conversion;
        if (entries_.size() >= kEntries)
            entries_.erase(std::ranges::min_element(entries_, {}, &Entry::lastUse));
        entries_.push_back({hash, source, {target.begin(), target.end()}, samples, made, ++uses_});
        return made;
    }

private:
    // Cameras, scanners and the display: a handful of profiles in one session.
    static constexpr size_t kEntries = 16;

    struct Entry {
        size_t hash;
        Source source;
        std::vector<uint8_t> target;
        std::optional<DecoderSamples> samples;
        std::shared_ptr<const Conversion> conversion;
        uint64_t lastUse;
    };

    static size_t Hash(const Source& source, std::span<const uint8_t> target, std::optional<DecoderSamples> samples) {
        auto bytes = [](std::span<const uint8_t> data) {
            return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        };
        const size_t layout = samples ? static_cast<size_t>(*samples) + 1 : 0;
        return ((bytes(source.bytes) * 31 + bytes(target)) * 31 + source.kind) * 31 + layout;
    }

    std::mutex mutex_;
    std::vector<Entry> entries_;
    uint64_t uses_ = 0;
};

ConversionCache& Conversions() {
    static ConversionCache cache;
    return cache;
}

}  // namespace

void ConvertColours(CImageBitmap& bitmap, std::span<const uint8_t> targetProfile) {
    const int depth = bitmap.BitsPerPixel();
    if (depth != 32 && (depth > 8 || bitmap.Palette() == nullptr)) return;
    ImageMetadata& metadata = bitmap.Metadata();
    const Source source = SourceOf(metadata);
    if (source.kind == Source::kSrgb && targetProfile.empty()) return;
    const std::shared_ptr<const Conversion> conversion = Conversions().Find(source, targetProfile);
    if (!conversion->failure.empty()) {
        Trace(1, "Colour profile not applied: " + conversion->failure + ".\n");
        return;
    }
    if (const ColourTransform* transform = conversion->transform.get()) {
        CBitmapLock lock(bitmap, true, true);
        if (depth == 32) {
            const int width = bitmap.Width();
            ForEachRowBand(bitmap.Height(), int64_t{width} * bitmap.Height(), [&](int first, int end) {
                for (int y = first; y < end; ++y) transform->Convert(bitmap.PixelLine(y), static_cast<size_t>(width));
            });
        } else {
            transform->Convert(bitmap.Palette(), static_cast<size_t>(PaletteEntries(depth)));
        }
    }
    metadata.iccProfile.assign(targetProfile.begin(), targetProfile.end());
    metadata.pngColour = {};
}

std::unique_ptr<CColourRowConverter> CColourRowConverter::ForDecode(const ImageMetadata& metadata, DecoderSamples samples) {
    const CDecodeContext* context = ActiveDecodeContext();
    if (context == nullptr || !context->colourManagement) return nullptr;
    const Source source = SourceOf(metadata);
    if (source.kind == Source::kSrgb && context->targetProfile.empty()) return nullptr;
    const std::shared_ptr<const Conversion> conversion = Conversions().Find(source, context->targetProfile, samples);
    if (!conversion->rows) return nullptr;
    return std::unique_ptr<CColourRowConverter>(new CColourRowConverter(conversion->rows, samples, context->targetProfile));
}

CColourRowConverter::CColourRowConverter(std::shared_ptr<const Rows> rows, DecoderSamples samples, std::vector<uint8_t> target)
    : rows_(std::move(rows)), samples_(samples), target_(std::move(target)) {}

CColourRowConverter::~CColourRowConverter() = default;

void CColourRowConverter::Convert(const void* samples, BGRA* out, size_t count) const {
    const bool alpha = HasAlpha(samples_);
    const auto* wide = static_cast<const uint16_t*>(samples);
    if (!rows_->greyLevels.empty()) {
        const size_t stride = alpha ? 2 : 1;
        for (size_t i = 0; i < count; ++i) out[i] = rows_->greyLevels[wide[i * stride]];
    } else if (rows_->matrixShaper) {
        rows_->matrixShaper->Convert(wide, alpha ? 4 : 3, out, count);
    } else {
        cmsDoTransform(rows_->transform.get(), samples, out, static_cast<cmsUInt32Number>(count));
    }
    if (alpha) {
        const size_t stride = samples_ == DecoderSamples::GreyAlpha16 ? 2 : 4;
        for (size_t i = 0; i < count; ++i) out[i].a = static_cast<uint8_t>((wide[i * stride + stride - 1] * 255u + 32767) / 65535);
    } else {
        for (size_t i = 0; i < count; ++i) out[i].a = 255;
    }
}

void CColourRowConverter::MarkConverted(ImageMetadata& metadata) const {
    metadata.iccProfile = target_;
    metadata.pngColour = {};
}
