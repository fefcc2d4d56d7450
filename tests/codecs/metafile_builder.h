#pragma once

// Builders for small metafiles written record by record, so that a test states exactly the
// records it is about and lets the builder add headers, sizes and the end-of-file record.

#include <QRect>
#include <QRgb>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A 16-bit metafile, with a placeable header when Placeable is called.
class CWmfBuilder {
public:
    CWmfBuilder& Placeable(int left, int top, int right, int bottom, int unitsPerInch);
    // A record of 16-bit parameters, in the order the record stores them.
    CWmfBuilder& Record(uint16_t function, std::initializer_list<int> words);
    CWmfBuilder& Record(uint16_t function, const Bytes& parameters);
    // The raw bytes of a record, size field included: for records that lie about their size.
    CWmfBuilder& Raw(const Bytes& bytes);
    Bytes Build() const;

private:
    Bytes placeable_;
    Bytes records_;
};

// An enhanced metafile whose reference device has 96 pixels per inch, so that with the
// frame given in hundredths of a millimetre at the default mapping mode one logical unit
// is one output pixel at 96 dots per inch.
class CEmfBuilder {
public:
    explicit CEmfBuilder(QRect frame);
    CEmfBuilder& Record(uint32_t type, std::initializer_list<int32_t> values);
    CEmfBuilder& Record(uint32_t type, const Bytes& parameters);
    CEmfBuilder& Raw(const Bytes& bytes);
    CEmfBuilder& Palette(std::initializer_list<QRgb> entries);
    Bytes Build() const;

private:
    QRect frame_;
    Bytes records_;
    std::vector<QRgb> palette_;
    uint32_t count_ = 0;
};

void Put16(Bytes& out, int value);
void Put32(Bytes& out, int64_t value);
Bytes Utf16(const std::u16string& text);

// A bottom-up 24-bit device-independent bitmap: info header followed by the pixels,
// rows given top row first as 0xRRGGBB values.
Bytes PackedDib24(const std::vector<std::vector<uint32_t>>& rows);
