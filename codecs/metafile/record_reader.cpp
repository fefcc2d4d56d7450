#include "record_reader.h"

#include "imagelib/byte_order.h"

#include <bit>

namespace metafile {

std::span<const uint8_t> CRecordReader::Bytes(size_t count) {
    if (!Has(count)) throw CRecordTooShort();
    const auto bytes = data_.subspan(position_, count);
    position_ += count;
    return bytes;
}

uint8_t CRecordReader::U8() { return Bytes(1)[0]; }
uint16_t CRecordReader::U16() { return ReadLE16(Bytes(2).data()); }
uint32_t CRecordReader::U32() { return ReadLE32(Bytes(4).data()); }
float CRecordReader::F32() { return std::bit_cast<float>(U32()); }

void CRecordReader::Seek(size_t position) {
    if (position > data_.size()) throw CRecordTooShort();
    position_ = position;
}

CRecordReader CRecordReader::At(uint64_t offset, uint64_t count, uint64_t itemSize) const {
    const uint64_t size = data_.size();
    if (offset > size) throw CRecordTooShort();
    if (itemSize != 0 && count > (size - offset) / itemSize) throw CRecordTooShort();
    return CRecordReader(data_.subspan(static_cast<size_t>(offset), static_cast<size_t>(count * itemSize)));
}

}  // namespace metafile
