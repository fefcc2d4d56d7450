#include "byte_source.h"

#include "text_exception.h"

#include <algorithm>

void CByteSource::Prepare(const std::string& name, size_t size) {
    name_ = name;
    size_ = size;
    position_ = 0;
}

void CByteSource::Close() {
    if (listener_ != nullptr) listener_->Progress(1.0);
    name_.clear();
}

const uint8_t* CByteSource::Read(size_t count) {
    const size_t old = position_;
    // A count beyond the data can never be satisfied; clamp so the arithmetic cannot wrap.
    position_ = count > size_ - std::min(old, size_) ? size_ + 1 : old + count;
    if (listener_ != nullptr && size_ != 0 && position_ / 1024 > old / 1024)
        listener_->Progress(static_cast<double>(std::min(position_, size_)) / static_cast<double>(size_));
    if (position_ > size_) throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    return nullptr;
}

void CByteSource::ReportProgress(double fraction) {
    if (listener_ != nullptr) listener_->Progress(fraction);
}

CMemoryBlockSource::~CMemoryBlockSource() {
    if (cursor_ == nullptr) return;
    // A source closed by its destructor is being abandoned, often while an exception
    // unwinds: a listener that throws on the last progress report must not end the program.
    try {
        Close();
    } catch (...) {
    }
}

int CMemoryBlockSource::Open(const uint8_t* start, size_t size) {
    Prepare("Mem", size);
    cursor_ = start;
    return 0;
}

void CMemoryBlockSource::Close() {
    cursor_ = nullptr;
    CByteSource::Close();
}

const uint8_t* CMemoryBlockSource::Peek(size_t) { return cursor_; }
const uint8_t* CMemoryBlockSource::RemainingData() { return cursor_; }

const uint8_t* CMemoryBlockSource::Read(size_t count) {
    CByteSource::Read(count);
    const uint8_t* first = cursor_;
    cursor_ += count;
    return first;
}
