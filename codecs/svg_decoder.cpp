#include "svg_decoder.h"

#include "imagelib/byte_source.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Absolute lengths are pixels at the CSS resolution.
constexpr double kDotsPerInch = 96;
// The longest side a picture is drawn at: larger ones are scaled down to it.
constexpr double kLongestSide = 8192;
// The viewport of a picture without size or view box, against which librsvg resolves
// percentages while it measures the drawing.
constexpr RsvgRectangle kMeasuringViewport = {0, 0, 100, 100};

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct CairoSurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDestroy {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};

[[noreturn]] void Fail(const ErrorPtr& error, const char* what) {
    RaiseError(ERR_BAD_DATA, FormatText("SVG decoder: %s: %s", what, error ? error->message : "librsvg failed"));
}

// Pixels of an absolute length; 0 for lengths that need a viewport or a font.
double AbsolutePixels(const RsvgLength& length) {
    switch (length.unit) {
        case RSVG_UNIT_PX: return length.length;
        case RSVG_UNIT_IN: return length.length * kDotsPerInch;
        case RSVG_UNIT_CM: return length.length * kDotsPerInch / 2.54;
        case RSVG_UNIT_MM: return length.length * kDotsPerInch / 25.4;
        case RSVG_UNIT_PT: return length.length * kDotsPerInch / 72;
        case RSVG_UNIT_PC: return length.length * kDotsPerInch / 6;
        default: return 0;
    }
}

// A loaded document and the size it is drawn at.
struct SvgDocument {
    ObjectPtr<RsvgHandle> handle;
    double width = 0;  // the picture's own size, in pixels
    double height = 0;
    // Without size or view box: the drawing's ink extents, drawn from their corner.
    bool byInk = false;
    RsvgRectangle ink{};
};

// librsvg resolves references against the file's own location; data from memory has none.
ObjectPtr<GFile> BaseFile(CByteSource& source) {
    if (dynamic_cast<CMappedFileSource*>(&source) == nullptr) return nullptr;
    return ObjectPtr<GFile>(g_file_new_for_path(source.Name().c_str()));
}

SvgDocument Load(CByteSource& source) {
    const size_t size = source.Available();
    const uint8_t* data = source.RemainingData();
    CheckDecodeCancelled();
    ObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_data(data, static_cast<gssize>(size), nullptr));
    const ObjectPtr<GFile> base = BaseFile(source);
    GError* rawError = nullptr;
    SvgDocument document;
    document.handle.reset(
        rsvg_handle_new_from_stream_sync(stream.get(), base.get(), RSVG_HANDLE_FLAGS_NONE, nullptr, &rawError));
    ErrorPtr error(rawError);
    if (!document.handle) Fail(error, "the document cannot be read");
    CheckDecodeCancelled();
    RsvgHandle* handle = document.handle.get();
    rsvg_handle_set_dpi(handle, kDotsPerInch);

    if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &document.width, &document.height)) return document;
    gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
    RsvgLength width{}, height{};
    RsvgRectangle viewBox{};
    rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &width, &hasHeight, &height, &hasViewBox, &viewBox);
    if (hasViewBox && viewBox.width > 0 && viewBox.height > 0) {
        const double absoluteWidth = hasWidth ? AbsolutePixels(width) : 0;
        const double absoluteHeight = hasHeight ? AbsolutePixels(height) : 0;
        document.width = absoluteWidth > 0 ? absoluteWidth
                         : absoluteHeight > 0 ? absoluteHeight * viewBox.width / viewBox.height
                                              : viewBox.width;
        document.height = absoluteHeight > 0 ? absoluteHeight
                          : absoluteWidth > 0 ? absoluteWidth * viewBox.height / viewBox.width
                                              : viewBox.height;
        return document;
    }
    RsvgRectangle logical{};
    rawError = nullptr;
    if (!rsvg_handle_get_geometry_for_layer(handle, nullptr, &kMeasuringViewport, &document.ink, &logical, &rawError))
        Fail(ErrorPtr(rawError), "the drawing cannot be measured");
    document.byInk = true;
    document.width = document.ink.width;
    document.height = document.ink.height;
    return document;
}

// The whole pixels of a size scaled by scale: rounded up, at least 1.
int Pixels(double size, double scale) {
    const double scaled = size * scale;
    if (!(scaled > 1)) return 1;
    return static_cast<int>(std::min(std::ceil(scaled - 1e-6), kLongestSide));
}

double ScaleOf(const SvgDocument& document) {
    const double longest = std::max(document.width, document.height);
    return longest > kLongestSide ? kLongestSide / longest : 1.0;
}

// Cairo's premultiplied ARGB32 words are BGRA bytes on a little-endian machine, and
// native-endian words are what BGRA pixels read as there.
void Unpremultiply(uint8_t* row, int width, bool& transparent) {
    for (int x = 0; x < width; ++x, row += 4) {
        uint32_t word;
        std::memcpy(&word, row, 4);
        const uint32_t a = word >> 24;
        if (a == 255) continue;
        transparent = true;
        BGRA pixel{0, 0, 0, 0};
        if (a != 0) {
            pixel.b = static_cast<uint8_t>(std::min<uint32_t>(255, ((word & 0xFF) * 255 + a / 2) / a));
            pixel.g = static_cast<uint8_t>(std::min<uint32_t>(255, (((word >> 8) & 0xFF) * 255 + a / 2) / a));
            pixel.r = static_cast<uint8_t>(std::min<uint32_t>(255, (((word >> 16) & 0xFF) * 255 + a / 2) / a));
            pixel.a = static_cast<uint8_t>(a);
        }
        std::memcpy(row, &pixel, 4);
    }
}

}  // namespace

void CSVGDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const SvgDocument document = Load(source);
    const double scale = ScaleOf(document);
    info.width = Pixels(document.width, scale);
    info.height = Pixels(document.height, scale);
    info.bitsPerPixel = 32;
    info.hasAlpha = true;
}

void CSVGDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    const SvgDocument document = Load(source);
    const double scale = ScaleOf(document);
    const int width = Pixels(document.width, scale);
    const int height = Pixels(document.height, scale);
    bitmap.Create(width, height, 32, true);
    depth = 32;

    // Cairo draws straight into the bitmap's rows when they lie one after the other in
    // its own layout, else into a surface of its own that is copied.
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    CBitmapLock lock(bitmap, true, true);
    const bool direct = bitmap.Line(height - 1) - bitmap.Line(0) == static_cast<ptrdiff_t>(stride) * (height - 1) &&
                        (height == 1 || bitmap.Line(1) - bitmap.Line(0) == stride);
    std::vector<uint8_t> own(direct ? 0 : static_cast<size_t>(stride) * static_cast<size_t>(height));
    uint8_t* pixels = direct ? bitmap.Line(0) : own.data();
    if (direct)
        for (int y = 0; y < height; ++y) std::memset(bitmap.Line(y), 0, static_cast<size_t>(width) * 4);
    const std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy> surface(
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride));
    const std::unique_ptr<cairo_t, CairoDestroy> cairo(cairo_create(surface.get()));
    if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS)
        RaiseError(ERR_OUT_OF_MEMORY, "SVG decoder: cairo cannot draw a picture of this size.");

    RsvgRectangle viewport = {0, 0, static_cast<double>(width), static_cast<double>(height)};
    if (document.byInk) {
        cairo_scale(cairo.get(), scale, scale);
        cairo_translate(cairo.get(), -document.ink.x, -document.ink.y);
        viewport = kMeasuringViewport;
    }
    CheckDecodeCancelled();
    GError* rawError = nullptr;
    if (!rsvg_handle_render_document(document.handle.get(), cairo.get(), &viewport, &rawError))
        Fail(ErrorPtr(rawError), "the drawing cannot be rendered");
    cairo_surface_flush(surface.get());
    CheckDecodeCancelled();

    bool transparent = false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.Line(y);
        if (!direct) std::memcpy(row, own.data() + static_cast<size_t>(y) * stride, static_cast<size_t>(width) * 4);
        Unpremultiply(row, width, transparent);
    }
    bitmap.SetHasAlpha(transparent);
}
