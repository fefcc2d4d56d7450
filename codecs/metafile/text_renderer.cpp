#include "text_renderer.h"

#include "font_environment.h"

#include "text_encoding.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QRawFont>

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

constexpr uint8_t kSymbolCharSet = 2;

// Glyphs are drawn at a whole pixel size in this range and scaled by the rest.
constexpr int kMinPixelSize = 1;
constexpr int kMaxPixelSize = 2000;

QFont::StyleHint FamilyHint(uint8_t pitchAndFamily) {
    switch (pitchAndFamily & 0xF0) {
    case 0x10: return QFont::Serif;
    case 0x20: return QFont::SansSerif;
    case 0x30: return QFont::TypeWriter;
    case 0x40: return QFont::Cursive;
    case 0x50: return QFont::Decorative;
    default: return QFont::AnyStyle;
    }
}

QFont BaseFont(const GdiFont& f, int pixelSize) {
    // A family hint would make Qt prefer its generic family over the metric-compatible
    // substitute the font configuration names for a face, so it serves only nameless fonts.
    QFont font(f.faceName.isEmpty() ? QStringLiteral("Arial") : f.faceName);
    if (f.faceName.isEmpty()) font.setStyleHint(FamilyHint(f.pitchAndFamily));
    if ((f.pitchAndFamily & 0x03) == 1) font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight == 0 ? 400 : f.weight, 1, 1000)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setKerning(false);
    // The font configuration may answer a text face it lacks with a font of pictures (a
    // bold display face with a dingbats font, say); text must stay letters, so such a
    // stand-in gives way to the generic face of the font's family. A face in the symbol
    // character set asks for pictures and keeps them.
    if (f.charSet != kSymbolCharSet && !IsSymbolFace(f.faceName)) {
        const QString resolved = QFontInfo(font).family();
        const QList<QFontDatabase::WritingSystem> systems = QFontDatabase::writingSystems(resolved);
        if (systems.contains(QFontDatabase::Symbol) && resolved.compare(f.faceName, Qt::CaseInsensitive) != 0) {
            const QFont::StyleHint hint = FamilyHint(f.pitchAndFamily);
            font.setFamily(hint == QFont::Serif      ? QStringLiteral("serif")
                           : hint == QFont::TypeWriter ? QStringLiteral("monospace")
                                                       : QStringLiteral("sans-serif"));
            font.setStyleHint(hint == QFont::AnyStyle ? QFont::SansSerif : hint);
        }
    }
    return font;
}

struct FontChoice {
    QFont font;
    double scale = 1;  // output pixels per font pixel
};

// GDI heights: negative is the character (em) height, positive the cell height (ascent
// plus descent), zero the default.
FontChoice ChooseFont(const GdiFont& f, double scaleUp, double scaleAlong, double defaultEm) {
    double em = defaultEm;
    if (f.height < 0) {
        em = -static_cast<double>(f.height) * scaleUp;
    } else if (f.height > 0) {
        const QFontMetricsF probe(BaseFont(f, 100));
        const double cell = probe.ascent() + probe.descent();
        em = static_cast<double>(f.height) * scaleUp * (cell > 0 ? 100 / cell : 1);
    }
    if (!std::isfinite(em) || em <= 0) em = defaultEm;
    FontChoice choice;
    const int pixels = std::clamp(static_cast<int>(std::lround(std::min(em, 1e6))), kMinPixelSize, kMaxPixelSize);
    choice.font = BaseFont(f, pixels);
    choice.scale = em / pixels;
    if (f.width != 0) {
        const double average = QFontMetricsF(choice.font).averageCharWidth() * choice.scale;
        const double wanted = std::abs(static_cast<double>(f.width)) * scaleAlong;
        if (average > 0) choice.font.setStretch(std::clamp(static_cast<int>(std::lround(std::min(100 * wanted / average, 4000.0))), 1, 4000));
    }
    return choice;
}

bool Drawable(QChar c) { return c.unicode() >= 0x20 || c.isSurrogate(); }

}  // namespace

QPointF RenderText(const TextTarget& target, const DcState& state, const QTransform& toOutput, const TextRun& run,
                   double defaultEm) {
    const QPointF logicalRef = (state.textAlign & kTaUpdateCp) ? state.position : run.reference;
    const double scaleAlong = std::hypot(toOutput.m11(), toOutput.m12());
    const double scaleUp = std::hypot(toOutput.m21(), toOutput.m22());

    if ((run.options & kEtoOpaque) && run.rect) {
        QPainterPath box;
        box.addRect(run.rect->normalized());
        if (target.painter != nullptr) target.painter->fillPath(toOutput.map(box), state.bkColour);
        if (target.cells != nullptr) target.cells->addPath(toOutput.map(box));
    }
    // Writers fill boxes with text records of no characters; those need no fonts.
    if (run.text.isEmpty()) return logicalRef;
    RequireFontSupport();

    const FontChoice choice = ChooseFont(state.font, scaleUp, scaleAlong, defaultEm);
    QFont font = choice.font;
    QString text = run.text;
    if (IsSymbolFace(state.font.faceName)) {
        const QRawFont raw = QRawFont::fromFont(font);
        text = MapSymbolText(run.text, state.font.faceName, [&](char32_t c) { return raw.supportsCharacter(c); });
    }
    const double k = choice.scale;
    const bool withAdvances = !run.dx.empty();
    if (!withAdvances && state.charExtra != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, state.charExtra * scaleAlong / k);
    const QFontMetricsF metrics(font);

    // Glyph origins along the baseline, in output pixels.
    std::vector<double> origins;
    double width = 0;
    if (withAdvances) {
        origins.reserve(static_cast<size_t>(text.size()));
        for (qsizetype i = 0; i < text.size(); ++i) {
            origins.push_back(width);
            const size_t index = static_cast<size_t>(i);
            if (index < run.dx.size()) width += run.dx[index] * scaleAlong;
        }
    } else {
        width = metrics.horizontalAdvance(text) * k;
    }

    double x0 = 0;
    switch (state.textAlign & kTaHorizontalMask) {
    case kTaCenter: x0 = -width / 2; break;
    case kTaRight: x0 = -width; break;
    default: break;
    }
    double baseline = 0;
    switch (state.textAlign & kTaVerticalMask) {
    case kTaBaseline: break;
    case kTaBottom: baseline = -metrics.descent() * k; break;
    default: baseline = metrics.ascent() * k; break;
    }

    // Axis-aligned pages keep text upright and left to right, as GDI's compatible mode
    // does; rotating world transforms turn the baseline with them.
    double angle = -static_cast<double>(state.font.escapement) / 10.0;
    const bool rotated = std::abs(toOutput.m12()) > 1e-9 * scaleAlong || std::abs(toOutput.m21()) > 1e-9 * scaleUp;
    if (rotated) angle += std::atan2(toOutput.m12(), toOutput.m11()) * 180 / M_PI;
    const QPointF origin = toOutput.map(logicalRef);
    QTransform frame;
    frame.translate(origin.x(), origin.y());
    frame.rotate(angle);

    QPainterPath cell;
    cell.addRect(QRectF(std::min(x0, x0 + width), baseline - metrics.ascent() * k, std::abs(width),
                        (metrics.ascent() + metrics.descent()) * k));
    if (target.painter != nullptr && state.bkMode == kOpaque && width != 0) target.painter->fillPath(frame.map(cell), state.bkColour);
    if (target.cells != nullptr && width != 0) target.cells->addPath(frame.map(cell));

    if (!(run.options & kEtoGlyphIndex)) {
        QTransform glyphSpace;
        glyphSpace.translate(x0, baseline);
        glyphSpace.scale(k, k);
        const QTransform toGlyphs = glyphSpace * frame;
        QPainterPath outlines;
        auto place = [&](double at, const QString& part) {
            if (target.painter != nullptr)
                target.painter->drawText(QPointF(at / k, 0), part);
            else
                outlines.addText(QPointF(at / k, 0), font, part);
        };
        if (target.painter != nullptr) {
            target.painter->save();
            if ((run.options & kEtoClipped) && run.rect) {
                QPainterPath box;
                box.addRect(run.rect->normalized());
                target.painter->setClipPath(toOutput.map(box), target.painter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
            }
            target.painter->setTransform(toGlyphs);
            target.painter->setFont(font);
            target.painter->setPen(state.textColour);
        }
        if (withAdvances) {
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (!Drawable(text[i]) || text[i].isLowSurrogate()) continue;
                const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
                place(origins[static_cast<size_t>(i)], text.mid(i, pair ? 2 : 1));
            }
        } else {
            QString visible = text;
            while (!visible.isEmpty() && visible.back().unicode() == 0) visible.chop(1);
            place(0, visible);
        }
        if (target.painter != nullptr) target.painter->restore();
        if (target.path != nullptr) target.path->addPath(toGlyphs.map(outlines));
    }

    double advance = 0;
    switch (state.textAlign & kTaHorizontalMask) {
    case kTaCenter: break;
    case kTaRight: advance = -width; break;
    default: advance = width; break;
    }
    const QPointF end = frame.map(QPointF(advance, 0));
    bool invertible = false;
    const QTransform back = toOutput.inverted(&invertible);
    return invertible ? back.map(end) : logicalRef;
}

}  // namespace metafile
