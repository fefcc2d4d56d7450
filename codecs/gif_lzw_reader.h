#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// GIF's variable-length LZW, read from the image's data sub-blocks. giflib refuses minimum
// code sizes above 8 bits, which the format allows (codes grow to 12 bits) and which some
// writers use; the GIF decoder reads such images through this reader.
class CGifLzwReader {
public:
    // data holds the sub-blocks that follow the minimum code size byte. minimumCodeSize is
    // 2 to 11.
    CGifLzwReader(const uint8_t* data, size_t size, int minimumCodeSize);

    // Fills out with the next count pixels. Returns false when the data or the end code
    // comes first; out keeps what was read. Raises code 2 for a code that is not yet in the
    // table and for a pixel value beyond 255.
    bool Read(uint8_t* out, int count);

private:
    // The next code of the stream, or -1 when the sub-blocks end.
    int NextCode();
    void Reset();
    uint8_t FirstByte(int code) const;

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    size_t blockLeft_ = 0;
    uint32_t bits_ = 0;
    int bitCount_ = 0;

    const int minimumCodeSize_;
    const int clearCode_;
    const int endCode_;
    int codeSize_ = 0;
    int nextCode_ = 0;
    int previous_ = -1;
    bool ended_ = false;

    // The string table as prefix codes and last bytes; a string's first byte is kept so that
    // a new entry needs no walk.
    std::vector<uint16_t> prefix_;
    std::vector<uint8_t> suffix_;
    std::vector<uint8_t> first_;
    // Bytes of the current string not yet handed out, last byte first.
    std::vector<uint8_t> pending_;
};
