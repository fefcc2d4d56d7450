#include "metafile_renderer.h"

#include "emf_player.h"
#include "gdi_canvas.h"
#include "metafile_header.h"
#include "wmf_player.h"

#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <cmath>
#include <optional>

namespace metafile {

namespace {

constexpr int kDefaultWidth = 320;
constexpr int kDefaultHeight = 200;
constexpr double kMillimetresPerInch = 25.4;
constexpr int kMaxLogicalCoordinate = 32767;

struct Layout {
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    QTransform device;  // metafile device units to output pixels
    double pixelsPerMmX = 96 / kMillimetresPerInch;
    double pixelsPerMmY = 96 / kMillimetresPerInch;
    // 16-bit metafiles: the window the player starts with, and the box of the picture it
    // is shown in.
    QPointF windowOrg;
    QSizeF windowExt{kDefaultWidth, kDefaultHeight};
    QRectF box{0, 0, kDefaultWidth, kDefaultHeight};
};

int OrDefault(int64_t value, int fallback) {
    return value <= 0 || value > INT32_MAX ? fallback : static_cast<int>(value);
}

// Maps the rectangle from onto (0, 0, width, height).
QTransform Fit(const QRectF& from, int width, int height) {
    if (!(from.width() > 0) || !(from.height() > 0)) return {};
    QTransform t;
    t.scale(width / from.width(), height / from.height());
    t.translate(-from.left(), -from.top());
    return t;
}

QImage WhitePicture(int width, int height) {
    CheckBitmapStorage(width, height, 32, PaddedLineBytes(width, 32));
    CWorkBudget::GrantPixels(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
    QImage picture(width, height, QImage::Format_RGB32);
    if (picture.isNull()) RaiseError(ERR_OUT_OF_MEMORY, "Cannot allocate memory bitmap.");
    picture.fill(Qt::white);
    return picture;
}

// The player's own setting before the first record: the window as the picture's box
// shows it, mapped onto that box; the records' window settings then replace it.
PlayOutcome PlayWmf(const WmfFile& file, const Layout& layout, QImage& picture, std::optional<QRectF>* drawn = nullptr) {
    // Measuring: the device reaches from the origin as far as 16-bit coordinates go.
    const std::optional<QRectF> surface =
        drawn != nullptr ? std::optional<QRectF>(QRectF(0, 0, kMaxLogicalCoordinate, kMaxLogicalCoordinate)) : std::nullopt;
    CGdiCanvas canvas(picture, layout.device, layout.pixelsPerMmX, layout.pixelsPerMmY, surface);
    canvas.Dc().SetMapMode(kMmAnisotropic);
    canvas.Dc().SetWindowOrg(layout.windowOrg);
    canvas.Dc().SetWindowExt(layout.windowExt);
    canvas.Dc().SetViewportOrg(layout.box.topLeft());
    canvas.Dc().SetViewportExt(layout.box.size());
    CWmfPlayer player(file.records, canvas);
    const PlayOutcome outcome = player.Play();
    if (drawn != nullptr) *drawn = canvas.DrawnBounds();
    return outcome;
}

// A 16-bit metafile that names neither a box nor a window leaves its coordinates to the
// program playing it, so they are taken as pixels and the picture reaches from the origin
// to the far edges of what the records draw; what lies left of or above the origin falls
// outside, as it would on a screen. Measured by playing the records onto one pixel.
void FitToDrawing(const WmfFile& file, Layout& layout) {
    QImage scratch(1, 1, QImage::Format_RGB32);
    if (scratch.isNull()) RaiseError(ERR_OUT_OF_MEMORY, "Cannot allocate memory bitmap.");
    std::optional<QRectF> drawn;
    PlayWmf(file, layout, scratch, &drawn);
    if (!drawn) return;
    const auto edge = [](double far, int fallback) { return far >= 1 ? static_cast<int>(std::ceil(far)) : fallback; };
    layout.width = edge(drawn->right(), kDefaultWidth);
    layout.height = edge(drawn->bottom(), kDefaultHeight);
}

Layout WmfLayout(const WmfFile& file, int dpi) {
    Layout layout;
    layout.pixelsPerMmX = layout.pixelsPerMmY = dpi / kMillimetresPerInch;
    if (file.placeable && file.placeable->unitsPerInch > 0) {
        const PlaceableHeader& p = *file.placeable;
        const int64_t units = p.unitsPerInch;
        layout.width = OrDefault((int64_t{p.box.right()} - p.box.left()) * dpi / units, kDefaultWidth);
        layout.height = OrDefault((int64_t{p.box.bottom()} - p.box.top()) * dpi / units, kDefaultHeight);
        QRectF box = QRectF(QPointF(p.box.left(), p.box.top()), QPointF(p.box.right(), p.box.bottom())).normalized();
        if (box.width() == 0 || box.height() == 0) box = QRectF(0, 0, layout.width, layout.height);
        layout.box = box;
        layout.windowOrg = box.topLeft();
        layout.windowExt = box.size();
        layout.device = Fit(box, layout.width, layout.height);
        layout.pixelsPerMmX = layout.pixelsPerMmY = units / kMillimetresPerInch;
    } else {
        const CWmfPlayer::Window window = CWmfPlayer::FindWindow(file.records);
        if (window.extent) {
            layout.windowExt = *window.extent;
            layout.windowOrg = window.origin.value_or(QPointF());
            layout.width = OrDefault(static_cast<int64_t>(std::abs(layout.windowExt.width())), kDefaultWidth);
            layout.height = OrDefault(static_cast<int64_t>(std::abs(layout.windowExt.height())), kDefaultHeight);
            layout.box = QRectF(0, 0, layout.width, layout.height);
        } else {
            FitToDrawing(file, layout);
        }
    }
    return layout;
}

RenderedMetafile RenderWmf(std::span<const uint8_t> data, int dpi) {
    const WmfFile file = ParseWmf(data);
    const Layout layout = WmfLayout(file, dpi);
    RenderedMetafile result;
    result.picture = WhitePicture(layout.width, layout.height);
    Trace(2, FormatText("Playing Windows metafile at %d x %d pixels.\n", layout.width, layout.height));
    result.outcome = PlayWmf(file, layout, result.picture);
    return result;
}

Layout EmfLayout(const EmfFile& file, int dpi) {
    Layout layout;
    layout.width = OrDefault((int64_t{file.frame.right()} - file.frame.left()) * dpi / 2540, kDefaultWidth);
    layout.height = OrDefault((int64_t{file.frame.bottom()} - file.frame.top()) * dpi / 2540, kDefaultHeight);
    const QSizeF px = file.devicePixels;
    const QSizeF mm = file.deviceMillimetres;
    if (px.width() > 0 && px.height() > 0 && mm.width() > 0 && mm.height() > 0) {
        layout.pixelsPerMmX = px.width() / mm.width();
        layout.pixelsPerMmY = px.height() / mm.height();
    }
    // The frame, in the reference device's pixels, gives the picture's scale. Its origin
    // is less reliable: some writers draw at negative device coordinates behind a frame
    // at the origin. The bounds of what was drawn, which writers take from the drawing,
    // place the picture instead (as other players of these files do).
    const QRectF frame(QPointF(file.frame.left() * layout.pixelsPerMmX / 100, file.frame.top() * layout.pixelsPerMmY / 100),
                       QPointF(file.frame.right() * layout.pixelsPerMmX / 100, file.frame.bottom() * layout.pixelsPerMmY / 100));
    const QRectF bounds(QPointF(file.bounds.left(), file.bounds.top()), QPointF(file.bounds.right() + 1.0, file.bounds.bottom() + 1.0));
    if (frame.width() > 0 && frame.height() > 0) {
        QRectF anchored = frame;
        if (bounds.width() > 0 && bounds.height() > 0) anchored.moveTopLeft(bounds.topLeft());
        layout.device = Fit(anchored, layout.width, layout.height);
    } else if (bounds.width() > 0 && bounds.height() > 0) {
        layout.device = Fit(bounds, layout.width, layout.height);
    }
    return layout;
}

RenderedMetafile RenderEmf(std::span<const uint8_t> data, int dpi) {
    const EmfFile file = ParseEmf(data);
    const Layout layout = EmfLayout(file, dpi);
    RenderedMetafile result;
    result.picture = WhitePicture(layout.width, layout.height);
    result.palette = file.palette;
    Trace(2, FormatText("Playing enhanced metafile at %d x %d pixels.\n", layout.width, layout.height));
    CGdiCanvas canvas(result.picture, layout.device, layout.pixelsPerMmX, layout.pixelsPerMmY);
    CEmfPlayer player(file.records, file.handles, canvas);
    result.outcome = player.Play();
    return result;
}

}  // namespace

RenderedMetafile RenderMetafile(std::span<const uint8_t> data, MetafileKind kind, int dotsPerInch) {
    return kind == MetafileKind::Emf ? RenderEmf(data, dotsPerInch) : RenderWmf(data, dotsPerInch);
}

MetafileMeasure MeasureMetafile(std::span<const uint8_t> data, MetafileKind kind, int dotsPerInch) {
    MetafileMeasure measure;
    if (kind == MetafileKind::Emf) {
        EmfFile file = ParseEmf(data);
        const Layout layout = EmfLayout(file, dotsPerInch);
        measure.width = layout.width;
        measure.height = layout.height;
        measure.palette = std::move(file.palette);
    } else {
        const Layout layout = WmfLayout(ParseWmf(data), dotsPerInch);
        measure.width = layout.width;
        measure.height = layout.height;
    }
    return measure;
}

}  // namespace metafile
