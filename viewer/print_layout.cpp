#include "viewer/print_layout.h"

#include "viewer/display_layout.h"

#include <QBrush>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

// The rules' distance from the top and bottom edges.
constexpr int kRuleInset = 120;
// The picture's margins: sides, and top and bottom.
constexpr int kSideMargin = 200;
constexpr int kEndMargin = 400;
// The drawing origin offset the placements are measured from.
constexpr int kOrigin = 200;
// A line of text must fit between its reference point and the rule or page edge below it.
constexpr qreal kTextBand = 100;
// Rules about 0.1 mm wide at 600 dots per inch.
constexpr int kRuleWidth = 2;

const char* const kFooterText = "Image printed by Vantoro Image Viewer";
const char* const kFooterGap = "     ";

// The painter's font, made smaller when a line of it would not fit its band.
QFont BandFont(const QPainter& painter) {
    QFont font = painter.font();
    const QFontMetricsF metrics(font, painter.device());
    if (metrics.height() <= kTextBand) return font;
    const qreal pixels = metrics.ascent() + metrics.descent();
    const qreal current = font.pixelSize() > 0 ? font.pixelSize() : pixels;
    font.setPixelSize(std::max(1, static_cast<int>(std::floor(current * kTextBand / metrics.height()))));
    return font;
}

}  // namespace

PrintLayout ComputePrintLayout(const QRect& page, QSize picture, DisplayMode mode) {
    // Right and bottom are the edges' coordinates, one past the last pixel.
    const int L = page.left();
    const int T = page.top();
    const int R = L + page.width();
    const int B = T + page.height();
    PrintLayout layout;
    layout.topLine = QLine(L, T, R, T);
    layout.headerRule = QLine(L, kRuleInset, R, kRuleInset);
    layout.footerRule = QLine(L, B - kRuleInset, R, B - kRuleInset);
    layout.headerText = QPoint(200, 10);
    layout.footerText = QPoint(200, B - 100);

    const int Wa = R - L - 2 * kSideMargin;
    const int Ha = B - T - 2 * kEndMargin;
    layout.imageArea = QRect(L + kSideMargin, T + kEndMargin, std::max(Wa, 0), std::max(Ha, 0));
    const int W = picture.width();
    const int H = picture.height();
    if (Wa <= 0 || Ha <= 0 || W <= 0 || H <= 0) return layout;

    switch (mode.GetKind()) {
    case DisplayMode::Kind::StretchToFill:
        layout.target = QRect(kOrigin / 2, kOrigin, R - kSideMargin, B - kEndMargin);
        break;
    case DisplayMode::Kind::Tile:
        // Tiles start at the image area's corner and stay inside it, clear of the header.
        layout.target = QRect(layout.imageArea.topLeft(), picture);
        layout.tiled = true;
        break;
    default: {
        // Natural size and every zoom print the whole picture, fitted as proportional
        // stretch does.
        const float wr = static_cast<float>(W) / static_cast<float>(Wa);
        const float hr = static_cast<float>(H) / static_cast<float>(Ha);
        if (hr > wr) {
            const int w = static_cast<int>(static_cast<float>(W) / hr);
            layout.target = QRect((Wa - w) / 2 + L + kSideMargin + kOrigin, kOrigin, w, Ha);
        } else {
            const int h = static_cast<int>(static_cast<float>(H) / wr);
            layout.target = QRect(kOrigin, (Ha - h) / 2 + T + kEndMargin + kOrigin, Wa, h);
        }
        break;
    }
    }
    return layout;
}

QString PrintHeaderText(const QString& file) { return QStringLiteral("File Name : ") + file; }

QString PrintFooterText(const QString& webAddress) {
    return QString::fromLatin1(kFooterText) + QString::fromLatin1(kFooterGap) + webAddress;
}

void DrawPrintedPage(QPainter& painter, const PrintLayout& layout, const QImage& picture, const QString& header,
                     const QString& footer) {
    painter.save();
    painter.setPen(QPen(Qt::black, kRuleWidth));
    painter.drawLine(layout.topLine);
    painter.drawLine(layout.headerRule);
    painter.drawLine(layout.footerRule);

    painter.setFont(BandFont(painter));
    const QFontMetricsF metrics(painter.font(), painter.device());
    // drawText places the baseline; the reference points are the texts' top-left corners.
    painter.drawText(QPointF(layout.headerText) + QPointF(0, metrics.ascent()), header);
    painter.drawText(QPointF(layout.footerText) + QPointF(0, metrics.ascent()), footer);

    if (!picture.isNull() && !layout.target.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (layout.tiled) {
            painter.setBrushOrigin(layout.imageArea.topLeft());
            painter.fillRect(layout.imageArea, QBrush(picture));
        } else {
            painter.drawImage(QRectF(layout.target), picture, QRectF(picture.rect()));
        }
    }
    painter.restore();
}
