#include "gif_lzw_reader.h"

#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

namespace {

constexpr int kMaxCodeSize = 12;
constexpr int kTableSize = 1 << kMaxCodeSize;

}  // namespace

CGifLzwReader::CGifLzwReader(const uint8_t* data, size_t size, int minimumCodeSize)
    : data_(data),
      size_(size),
      minimumCodeSize_(minimumCodeSize),
      clearCode_(1 << minimumCodeSize),
      endCode_(clearCode_ + 1),
      prefix_(kTableSize),
      suffix_(kTableSize),
      first_(kTableSize) {
    pending_.reserve(kTableSize);
    Reset();
}

uint8_t CGifLzwReader::FirstByte(int code) const {
    return code < clearCode_ ? static_cast<uint8_t>(code) : first_[code];
}

void CGifLzwReader::Reset() {
    codeSize_ = minimumCodeSize_ + 1;
    nextCode_ = clearCode_ + 2;
    previous_ = -1;
}

int CGifLzwReader::NextCode() {
    while (bitCount_ < codeSize_) {
        if (blockLeft_ == 0) {
            // A zero-length sub-block ends the data, as does the end of the file.
            if (position_ >= size_ || data_[position_] == 0) return -1;
            blockLeft_ = data_[position_++];
        }
        if (position_ >= size_) return -1;
        bits_ |= static_cast<uint32_t>(data_[position_++]) << bitCount_;
        bitCount_ += 8;
        --blockLeft_;
    }
    const int code = static_cast<int>(bits_ & ((1u << codeSize_) - 1));
    bits_ >>= codeSize_;
    bitCount_ -= codeSize_;
    return code;
}

bool CGifLzwReader::Read(uint8_t* out, int count) {
    int done = 0;
    while (done < count) {
        if (!pending_.empty()) {
            out[done++] = pending_.back();
            pending_.pop_back();
            continue;
        }
        if (ended_) return false;
        const int code = NextCode();
        if (code < 0 || code == endCode_) {
            ended_ = true;
            return false;
        }
        if (code == clearCode_) {
            Reset();
            continue;
        }
        if (code < clearCode_ && code > 255)
            RaiseError(ERR_BAD_DATA, "GIF decoder: a pixel refers to a colour beyond the colour map.");
        // A code may name a string in the table or, once there is a previous string, the one
        // about to be defined: the previous string and its own first byte.
        const bool defining = code == nextCode_ && previous_ >= 0;
        if (code > endCode_ && code >= nextCode_ && !defining)
            RaiseError(ERR_BAD_DATA, "GIF decoder: the compressed data refers to a code not yet defined.");

        int walk = code;
        if (defining) {
            pending_.push_back(FirstByte(previous_));
            walk = previous_;
        }
        while (walk > endCode_) {
            pending_.push_back(suffix_[walk]);
            walk = prefix_[walk];
        }
        pending_.push_back(static_cast<uint8_t>(walk));

        if (previous_ >= 0 && nextCode_ < kTableSize) {
            prefix_[nextCode_] = static_cast<uint16_t>(previous_);
            suffix_[nextCode_] = pending_.back();
            first_[nextCode_] = FirstByte(previous_);
            ++nextCode_;
            if (nextCode_ == (1 << codeSize_) && codeSize_ < kMaxCodeSize) ++codeSize_;
        }
        previous_ = code;
    }
    return true;
}
