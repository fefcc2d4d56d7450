#include "gdi_objects.h"

#include <algorithm>
#include <array>

namespace metafile {

namespace {

GdiBrush SolidBrush(int grey) {
    GdiBrush brush;
    brush.colour = QColor(grey, grey, grey);
    return brush;
}

GdiPen Pen(uint32_t style, QColor colour) {
    GdiPen pen;
    pen.style = style;
    pen.colour = colour;
    return pen;
}

GdiFont Font(const char* face, uint8_t pitch) {
    GdiFont font;
    font.faceName = QString::fromLatin1(face);
    font.pitchAndFamily = pitch;
    return font;
}

}  // namespace

const GdiObject* StockObject(uint32_t index) {
    static const std::array<GdiObject, 20> stock = [] {
        GdiBrush nullBrush;
        nullBrush.style = kBsNull;
        // A fixed pitch has bit 0 set; the default palette is the twenty static colours,
        // of which the common first sixteen matter here.
        GdiPalette palette;
        for (QRgb c : {0x000000u, 0x800000u, 0x008000u, 0x808000u, 0x000080u, 0x800080u, 0x008080u, 0xC0C0C0u,
                       0x808080u, 0xFF0000u, 0x00FF00u, 0xFFFF00u, 0x0000FFu, 0xFF00FFu, 0x00FFFFu, 0xFFFFFFu})
            palette.entries.push_back(c | 0xFF000000u);
        return std::array<GdiObject, 20>{
            SolidBrush(255), SolidBrush(192), SolidBrush(128), SolidBrush(64), SolidBrush(0), nullBrush,
            Pen(kPsSolid, Qt::white), Pen(kPsSolid, Qt::black), Pen(kPsNull, Qt::black), std::monostate{},
            Font("Courier New", 1), Font("Courier New", 1), Font("Arial", 0), Font("Arial", 0), Font("Arial", 0),
            palette, Font("Courier New", 1), Font("Arial", 0), SolidBrush(255), Pen(kPsSolid, Qt::black)};
    }();
    if (index >= stock.size() || std::holds_alternative<std::monostate>(stock[index])) return nullptr;
    return &stock[index];
}

void CObjectTable::InsertAtFreeSlot(GdiObject object) {
    while (firstFree_ < slots_.size() && !std::holds_alternative<std::monostate>(slots_[firstFree_])) ++firstFree_;
    if (firstFree_ == slots_.size()) {
        if (slots_.size() == kMaxSlots) return;
        slots_.emplace_back();
    }
    slots_[firstFree_++] = std::move(object);
}

void CObjectTable::Store(uint32_t index, GdiObject object) {
    if (index >= kMaxSlots) return;
    if (index >= slots_.size()) slots_.resize(index + 1);
    slots_[index] = std::move(object);
}

const GdiObject* CObjectTable::Find(uint32_t index) const {
    if (index >= slots_.size() || std::holds_alternative<std::monostate>(slots_[index])) return nullptr;
    return &slots_[index];
}

void CObjectTable::Delete(uint32_t index) {
    if (index >= slots_.size()) return;
    slots_[index] = std::monostate{};
    firstFree_ = std::min<size_t>(firstFree_, index);
}

}  // namespace metafile
