#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

namespace metafile {

// Thrown by a record handler for a record that cannot be what it claims; the players
// catch it, and playing ends there. what() completes "record N (type T) ...".
class CBadRecord : public std::exception {
public:
    explicit CBadRecord(const char* reason) : reason_(reason) {}
    const char* what() const noexcept override { return reason_; }

private:
    const char* reason_;
};

// A record asked for bytes it does not hold: its size is impossible for its fields.
class CRecordTooShort : public CBadRecord {
public:
    CRecordTooShort() : CBadRecord("is shorter than its fields") {}
};

// Little-endian reader over the bytes of one record (or of a whole file). Every read is
// checked against the end of those bytes; nothing ever reads beyond them.
class CRecordReader {
public:
    CRecordReader() = default;
    explicit CRecordReader(std::span<const uint8_t> data) : data_(data) {}

    size_t Size() const { return data_.size(); }
    size_t Position() const { return position_; }
    size_t Remaining() const { return data_.size() - position_; }
    bool Has(size_t count) const { return count <= Remaining(); }
    std::span<const uint8_t> Data() const { return data_; }

    uint8_t U8();
    uint16_t U16();
    int16_t I16() { return static_cast<int16_t>(U16()); }
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    float F32();
    std::span<const uint8_t> Bytes(size_t count);
    void Skip(size_t count) { Bytes(count); }
    void Seek(size_t position);

    // A reader over count bytes starting offset bytes into this reader's data (record
    // fields give offsets from the record's start). count items of itemSize bytes each
    // are checked without overflow.
    CRecordReader At(uint64_t offset, uint64_t count, uint64_t itemSize = 1) const;

private:
    std::span<const uint8_t> data_;
    size_t position_ = 0;
};

}  // namespace metafile
