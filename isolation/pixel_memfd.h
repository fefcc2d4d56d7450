#pragma once

#include "isolation/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// A memfd for a picture's rows, mapped shared and writable, its pages put in place in bulk
// (far cheaper than the decoder taking a fault for each). Move-only; unmaps and closes what
// it still holds when it goes.
class CPixelMemfd {
public:
    CPixelMemfd() = default;
    ~CPixelMemfd();
    CPixelMemfd(CPixelMemfd&& other) noexcept;
    CPixelMemfd& operator=(CPixelMemfd&& other) noexcept;
    CPixelMemfd(const CPixelMemfd&) = delete;
    CPixelMemfd& operator=(const CPixelMemfd&) = delete;

    // A new zero-filled memfd of bytes (sealable), its pages in place unless placeLater is
    // set; an empty one when memory is short.
    static CPixelMemfd Create(size_t bytes, bool placeLater = false);

    bool Valid() const { return rows_ != nullptr; }
    uint8_t* Rows() const { return rows_; }
    size_t Bytes() const { return bytes_; }
    // How many bytes from the start have their pages in place.
    size_t Placed() const { return placed_; }

    // Puts the pages up to end in place. False when memory is short.
    bool PlaceUpTo(size_t end);

    // Makes it bytes long: a shorter memfd gives back the pages past the new end, a longer one
    // gets zero-filled pages in place. False when memory is short; it is then of no more use.
    bool Resize(size_t bytes);

    // Hands over the memfd and its mapping; the caller unmaps Rows() (Bytes() long).
    CUniqueFd Release();

private:
    void Reset();

    CUniqueFd memfd_;
    uint8_t* rows_ = nullptr;
    size_t bytes_ = 0;
    size_t placed_ = 0;
};

// The decoder helper's pixel memory for the next picture, made while it waits for the next
// request. Fresh pages for a picture cost the kernel more than decoding into them does (they
// are allocated and cleared one by one, then mapped); made ahead, they cost the decode
// nothing. It holds one picture's memory at most, never pixels of a picture it handed out.
class CPixelMemfdReserve {
public:
    // Rows for a picture of bytes, all pages in place: the memfd made ahead when it is no more
    // than twice as large (cut to size), or smaller (grown), a new one otherwise; empty when
    // memory is short.
    // A new one may be refused for the address space the reserve occupies; the reserve is
    // then given up and the new one tried again.
    CPixelMemfd Take(size_t bytes);

    // Makes ahead a memfd of bytes for the next picture, which is most likely of the last
    // one's size; any other it holds is given back first. Stops early, the rest of the pages
    // left to Take, as soon as wanted() says a request waits: the request comes first.
    void Prepare(size_t bytes, const std::function<bool()>& wanted);

    size_t Bytes() const { return held_.Bytes(); }

private:
    CPixelMemfd held_;
};
