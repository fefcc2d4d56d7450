#pragma once

#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"

#include <cstddef>
#include <cstdint>

// A bounded read pointer over the unread bytes of a data source, for decoders whose data
// comes in many tiny pieces (run-length packets, ASCII digits). Taking bytes is a pointer
// step checked against the end of the data; Commit() then consumes what was taken from the
// source in one Read. Running out fails as the source's Read does, with code 11.
class CSourceCursor {
public:
    explicit CSourceCursor(CByteSource& source)
        : source_(source), start_(source.RemainingData()), next_(start_), end_(start_ + source.Available()) {}
    CSourceCursor(const CSourceCursor&) = delete;
    CSourceCursor& operator=(const CSourceCursor&) = delete;

    size_t Left() const { return static_cast<size_t>(end_ - next_); }
    bool AtEnd() const { return next_ == end_; }

    const uint8_t* Take(size_t count) {
        if (count > Left()) RunOut();
        const uint8_t* first = next_;
        next_ += count;
        return first;
    }
    uint8_t Byte() {
        if (next_ == end_) RunOut();
        return *next_++;
    }
    // For tight loops: the unread bytes are [Next(), End()); a loop walks them with a local
    // pointer and hands back where it stopped with MoveTo.
    const uint8_t* Next() const { return next_; }
    const uint8_t* End() const { return end_; }
    void MoveTo(const uint8_t* next) { next_ = next; }
    [[noreturn]] void RunOut() {
        Commit();
        throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    }

    void Commit() {
        source_.Read(static_cast<size_t>(next_ - start_));
        start_ = next_;
    }

private:
    CByteSource& source_;
    const uint8_t* start_;
    const uint8_t* next_;
    const uint8_t* end_;
};
