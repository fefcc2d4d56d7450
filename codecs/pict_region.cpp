#include "pict_region.h"

#include "imagelib/byte_order.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kEndOfList = 0x7FFF;
constexpr size_t kMostRectangles = size_t{1} << 18;

int S16(const uint8_t* p) { return static_cast<int16_t>(ReadBE16(p)); }

// Adds the spans between flip points as rectangles from top to bottom.
bool AddBand(const std::vector<int>& flips, int top, int bottom, std::vector<QRect>& rects) {
    if (bottom <= top) return true;
    for (size_t i = 0; i + 1 < flips.size(); i += 2) {
        if (rects.size() >= kMostRectangles) return false;
        rects.emplace_back(QPoint(flips[i], top), QPoint(flips[i + 1] - 1, bottom - 1));
    }
    CWorkBudget::Charge(1 + flips.size() / 16);
    return true;
}

}  // namespace

QRect PictRecordBox(std::span<const uint8_t> record) {
    if (record.size() < 10) return {};
    const uint8_t* p = record.data() + 2;
    return QRect(QPoint(S16(p + 2), S16(p)), QPoint(S16(p + 6) - 1, S16(p + 4) - 1));
}

QRegion PictRegion(std::span<const uint8_t> record) {
    const QRect box = PictRecordBox(record);
    if (record.size() <= 10) return QRegion(box);
    std::vector<int> flips;
    std::vector<QRect> rects;
    size_t at = 10;
    int lineY = 0;
    bool first = true;
    while (at + 2 <= record.size()) {
        const int y = S16(record.data() + at);
        at += 2;
        if (y == kEndOfList) break;
        if (!first && !AddBand(flips, lineY, y, rects)) return QRegion(box);
        first = false;
        lineY = y;
        for (;;) {
            if (at + 2 > record.size()) return QRegion(box);
            const int x = S16(record.data() + at);
            at += 2;
            if (x == kEndOfList) break;
            const auto place = std::lower_bound(flips.begin(), flips.end(), x);
            if (place != flips.end() && *place == x)
                flips.erase(place);
            else
                flips.insert(place, x);
        }
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}
