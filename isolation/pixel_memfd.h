#pragma once

#include "isolation/unique_fd.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>

// A memfd for a picture's rows, mapped shared and writable. Fresh pages cost the kernel more
// than decoding into them does (each is allocated, cleared and mapped on its own fault), so
// they are put in place in bulk: at once for a small picture; for a large one by a thread of
// its own, which keeps ahead of a decoder writing the rows from the top and takes that work
// off the decoding thread. A decoder may write the rows while that thread runs.
// Move-only; stops that thread, unmaps and closes what it still holds when it goes.
class CPixelMemfd {
public:
    CPixelMemfd() = default;
    ~CPixelMemfd();
    CPixelMemfd(CPixelMemfd&& other) noexcept;
    CPixelMemfd& operator=(CPixelMemfd&& other) noexcept;
    CPixelMemfd(const CPixelMemfd&) = delete;
    CPixelMemfd& operator=(const CPixelMemfd&) = delete;

    // A new zero-filled memfd of bytes (sealable); an empty one when memory is short.
    static CPixelMemfd Create(size_t bytes);

    bool Valid() const { return rows_ != nullptr; }
    uint8_t* Rows() const { return rows_; }
    size_t Bytes() const { return bytes_; }

    // Makes it bytes long: a shorter memfd gives back the pages past the new end, a longer one
    // gets zero-filled pages. False when memory is short; it is then of no more use.
    bool Resize(size_t bytes);

    // Unmaps the rows and hands over the memfd.
    CUniqueFd UnmapAndRelease();
    // Hands over the memfd and keeps the rows mapped until this goes.
    CUniqueFd ReleaseMemfd();
    // Closes the memfd and hands over the mapping (Rows(), Bytes() long): the caller unmaps it.
    std::pair<uint8_t*, size_t> ReleaseMapping();

private:
    // Puts the pages of [from, bytes_) in place, on this thread or on one of their own.
    // False when memory is short.
    bool Place(size_t from);
    // Ends the placing thread, where one runs; afterwards the mapping may change.
    void Settle();
    void Reset();

    // Shared with the placing thread; owned apart, so that it stays where it is when this moves.
    struct Placing {
        std::atomic<bool> stop{false};
        std::atomic<size_t> placed{0};  // bytes from the start whose pages are in place
    };

    CUniqueFd memfd_;
    uint8_t* rows_ = nullptr;
    size_t bytes_ = 0;
    std::unique_ptr<Placing> placing_;
    std::thread placer_;
};
