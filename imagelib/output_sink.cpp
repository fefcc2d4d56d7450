#include "output_sink.h"

#include "text_exception.h"
#include "trace.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <new>
#include <unistd.h>

void COutputSink::Open(const std::string& name, uint8_t* buffer, size_t capacity) {
    name_ = name;
    buffer_ = buffer;
    capacity_ = capacity;
    used_ = 0;
}

void COutputSink::Close() {
    name_.clear();
    buffer_ = nullptr;
    used_ = 0;
}

void COutputSink::Write(size_t count, const void* bytes) {
    if (count > capacity_ - used_) return Overflow(count, bytes);
    if (count != 0) std::memcpy(buffer_ + used_, bytes, count);
    used_ += count;
}

void COutputSink::Overflow(size_t, const void*) {
    throw CTextException(ERR_END_OF_DATA, "Buffer overflow while encoding.\n");
}

CFileOutputSink::~CFileOutputSink() { Close(); }

int CFileOutputSink::Open(const std::string& fileName, size_t capacity) {
    std::string temp = fileName + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return ERR_CANNOT_CREATE;
    ::fchmod(fd, 0644);
    file_.reset(::fdopen(fd, "wb"));
    if (!file_) {
        ::close(fd);
        ::unlink(temp.c_str());
        return ERR_CANNOT_CREATE;
    }
    tempName_ = temp;
    ownBuffer_.reset(new (std::nothrow) uint8_t[capacity]);
    if (!ownBuffer_) {
        Close();
        return ERR_CANNOT_CREATE;
    }
    fileName_ = fileName;
    COutputSink::Open(fileName, ownBuffer_.get(), capacity);
    return 0;
}

void CFileOutputSink::Overflow(size_t count, const void* bytes) {
    if (std::fwrite(Buffer(), 1, Used(), file_.get()) != Used()) Fail();
    Drained();
    if (count <= Capacity()) return Write(count, bytes);
    if (std::fwrite(bytes, 1, count, file_.get()) != count) Fail();
}

void CFileOutputSink::Fail() {
    const std::string name = fileName_;
    Close();
    RaiseError(ERR_CANNOT_CREATE, FormatText("Writing %s failed", name.c_str()));
}

void CFileOutputSink::Commit() {
    const bool written = std::fwrite(Buffer(), 1, Used(), file_.get()) == Used();
    const bool flushed = std::fflush(file_.get()) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    if (!written || !flushed || !closed || std::rename(tempName_.c_str(), fileName_.c_str()) != 0) Fail();
    tempName_.clear();
    Close();
}

void CFileOutputSink::Close() {
    file_.reset();
    if (!tempName_.empty()) ::unlink(tempName_.c_str());
    tempName_.clear();
    ownBuffer_.reset();
    COutputSink::Close();
}
