#include "metafile_builder.h"

void Put16(Bytes& out, int value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void Put32(Bytes& out, int64_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

Bytes Utf16(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) Put16(out, c);
    return out;
}

Bytes PackedDib24(const std::vector<std::vector<uint32_t>>& rows) {
    const int height = static_cast<int>(rows.size());
    const int width = static_cast<int>(rows.front().size());
    const int stride = (width * 3 + 3) & ~3;
    Bytes out;
    Put32(out, 40);
    Put32(out, width);
    Put32(out, height);
    Put16(out, 1);
    Put16(out, 24);
    for (int i = 0; i < 6; ++i) Put32(out, i == 1 ? stride * height : 0);
    for (int y = height - 1; y >= 0; --y) {
        for (uint32_t rgb : rows[static_cast<size_t>(y)]) {
            out.push_back(static_cast<uint8_t>(rgb & 0xFF));
            out.push_back(static_cast<uint8_t>((rgb >> 8) & 0xFF));
            out.push_back(static_cast<uint8_t>((rgb >> 16) & 0xFF));
        }
        for (int pad = width * 3; pad < stride; ++pad) out.push_back(0);
    }
    return out;
}

CWmfBuilder& CWmfBuilder::Placeable(int left, int top, int right, int bottom, int unitsPerInch) {
    placeable_.clear();
    Put32(placeable_, 0x9AC6CDD7);
    Put16(placeable_, 0);
    for (int v : {left, top, right, bottom, unitsPerInch}) Put16(placeable_, v);
    Put32(placeable_, 0);
    Put16(placeable_, 0);
    return *this;
}

CWmfBuilder& CWmfBuilder::Record(uint16_t function, std::initializer_list<int> words) {
    Bytes parameters;
    for (int w : words) Put16(parameters, w);
    return Record(function, parameters);
}

CWmfBuilder& CWmfBuilder::Record(uint16_t function, const Bytes& parameters) {
    Bytes padded = parameters;
    if (padded.size() % 2) padded.push_back(0);
    Put32(records_, 3 + static_cast<int64_t>(padded.size() / 2));
    Put16(records_, function);
    records_.insert(records_.end(), padded.begin(), padded.end());
    return *this;
}

CWmfBuilder& CWmfBuilder::Raw(const Bytes& bytes) {
    records_.insert(records_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes CWmfBuilder::Build() const {
    Bytes out = placeable_;
    Put16(out, 1);   // in memory
    Put16(out, 9);   // header words
    Put16(out, 0x0300);
    Put32(out, static_cast<int64_t>((18 + records_.size() + 6) / 2));
    Put16(out, 16);  // handle table size
    Put32(out, 0);
    Put16(out, 0);
    out.insert(out.end(), records_.begin(), records_.end());
    Put32(out, 3);
    Put16(out, 0);
    return out;
}

CEmfBuilder::CEmfBuilder(QRect frame) : frame_(frame) {}

CEmfBuilder& CEmfBuilder::Record(uint32_t type, std::initializer_list<int32_t> values) {
    Bytes parameters;
    for (int32_t v : values) Put32(parameters, v);
    return Record(type, parameters);
}

CEmfBuilder& CEmfBuilder::Record(uint32_t type, const Bytes& parameters) {
    Bytes padded = parameters;
    while (padded.size() % 4) padded.push_back(0);
    Put32(records_, type);
    Put32(records_, 8 + static_cast<int64_t>(padded.size()));
    records_.insert(records_.end(), padded.begin(), padded.end());
    ++count_;
    return *this;
}

CEmfBuilder& CEmfBuilder::Raw(const Bytes& bytes) {
    records_.insert(records_.end(), bytes.begin(), bytes.end());
    ++count_;
    return *this;
}

CEmfBuilder& CEmfBuilder::Palette(std::initializer_list<QRgb> entries) {
    palette_ = entries;
    return *this;
}

Bytes CEmfBuilder::Build() const {
    Bytes eof;
    Put32(eof, 14);
    Put32(eof, 20 + 4 * static_cast<int64_t>(palette_.size()));
    Put32(eof, static_cast<int64_t>(palette_.size()));
    Put32(eof, 16);
    for (QRgb c : palette_) {
        eof.push_back(static_cast<uint8_t>(qRed(c)));
        eof.push_back(static_cast<uint8_t>(qGreen(c)));
        eof.push_back(static_cast<uint8_t>(qBlue(c)));
        eof.push_back(0);
    }
    Put32(eof, 20 + 4 * static_cast<int64_t>(palette_.size()));

    constexpr int kHeaderSize = 88;
    Bytes out;
    Put32(out, 1);
    Put32(out, kHeaderSize);
    // Bounds in device pixels (96 per inch), frame in hundredths of a millimetre.
    for (int v : {frame_.left() * 96 / 2540, frame_.top() * 96 / 2540, frame_.right() * 96 / 2540, frame_.bottom() * 96 / 2540})
        Put32(out, v);
    for (int v : {frame_.left(), frame_.top(), frame_.right(), frame_.bottom()}) Put32(out, v);
    Put32(out, 0x464D4520);
    Put32(out, 0x10000);
    Put32(out, kHeaderSize + static_cast<int64_t>(records_.size() + eof.size()));
    Put32(out, count_ + 2);
    Put16(out, 16);  // handle table size
    Put16(out, 0);
    Put32(out, 0);   // no description
    Put32(out, 0);
    Put32(out, static_cast<int64_t>(palette_.size()));
    for (int v : {960, 960, 254, 254}) Put32(out, v);  // reference device: 960 px in 254 mm
    out.insert(out.end(), records_.begin(), records_.end());
    out.insert(out.end(), eof.begin(), eof.end());
    return out;
}
