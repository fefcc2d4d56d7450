#pragma once

#include "mapping_guard.h"
#include "pl_object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Receives the share of the input a decode has consumed, from 0.0 to 1.0.
class CProgressListener {
public:
    virtual ~CProgressListener() = default;
    virtual void Progress(double fraction) = 0;
};

// The input of every decoder: the whole input as one block of bytes in memory, handed out
// by pointer. Read consumes and fails with code 11 past the end, so decoders need no length
// checks of their own for ordinary reads; Peek and RemainingData consume nothing.
class CByteSource : public CPLObject {
public:
    explicit CByteSource(CProgressListener* listener = nullptr) : listener_(listener) {}
    ~CByteSource() override = default;
    CByteSource(const CByteSource&) = delete;
    CByteSource& operator=(const CByteSource&) = delete;

    virtual void Prepare(const std::string& name, size_t size);
    virtual void Close();
    // Pointer to the next bytes, nothing consumed. Only Available() bytes exist behind it.
    virtual const uint8_t* Peek(size_t count) = 0;
    // Consumes count bytes and returns the first; throws CTextException(11) past the end.
    virtual const uint8_t* Read(size_t count);
    virtual const uint8_t* RemainingData() = 0;

    const std::string& Name() const { return name_; }
    size_t DataSize() const { return size_; }
    size_t Position() const { return position_; }
    // Bytes not yet consumed.
    size_t Available() const { return position_ < size_ ? size_ - position_ : 0; }
    void ReportProgress(double fraction);

    // Little helpers over Read for the common field sizes.
    uint8_t ReadByte() { return *Read(1); }
    void Skip(size_t count) { Read(count); }

private:
    std::string name_;
    size_t size_ = 0;
    size_t position_ = 0;
    CProgressListener* listener_;
};

// Opens a picture file for reading as CMappedFileSource does: fd receives the descriptor
// (close-on-exec, non-blocking so that a FIFO does not wait for a writer) and the result is 0,
// or ERR_NO_SUCH_PATH, ERR_CANNOT_OPEN or ERR_NO_ACCESS from the reason it failed.
int OpenPictureFile(const std::string& fileName, int& fd);

// A file mapped read-only into memory (or read into it where no mapping can be had). Only
// regular files open: FIFOs, devices and sockets fail at once with ERR_NO_ACCESS, without
// waiting. A file another program shortens while it is mapped reads as zeros past its new
// end instead of ending the process; Read then fails with ERR_END_OF_DATA and Shrunk tells.
class CMappedFileSource : public CByteSource {
public:
    explicit CMappedFileSource(CProgressListener* listener = nullptr) : CByteSource(listener) {}
    ~CMappedFileSource() override;

    // 0 on success, else ERR_NO_SUCH_PATH, ERR_CANNOT_OPEN, ERR_NO_ACCESS, or ERR_OUT_OF_MEMORY
    // when there is no memory to hold the file. Never throws.
    int Open(const std::string& fileName);
    // The same over a descriptor the caller opened (and still owns); fileName names it in
    // messages and for the formats recognised by their extension. A process that may not
    // open files decodes what another one opened for it this way.
    int OpenDescriptor(int fd, const std::string& fileName);
    void Close() override;
    const uint8_t* Peek(size_t count) override;
    const uint8_t* Read(size_t count) override;
    const uint8_t* RemainingData() override;
    bool Shrunk() const;

private:
    const uint8_t* view_ = nullptr;
    size_t viewSize_ = 0;
    CMappingGuard guard_;
    std::unique_ptr<uint8_t[]> data_;
    const uint8_t* cursor_ = nullptr;
};

// A caller's memory block, used in place; it must outlive the source's Close.
class CMemoryBlockSource : public CByteSource {
public:
    explicit CMemoryBlockSource(CProgressListener* listener = nullptr) : CByteSource(listener) {}
    ~CMemoryBlockSource() override;

    int Open(const uint8_t* start, size_t size);
    void Close() override;
    const uint8_t* Peek(size_t count) override;
    const uint8_t* Read(size_t count) override;
    const uint8_t* RemainingData() override;

private:
    const uint8_t* cursor_ = nullptr;
};
