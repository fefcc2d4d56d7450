#pragma once

#include "pl_object.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// A bounded memory buffer an encoder writes into; Write fails with code 11 when the bytes
// would not fit, unless the sink can pass its bytes on (Overflow).
class COutputSink : public CPLObject {
public:
    ~COutputSink() override = default;

    void Open(const std::string& name, uint8_t* buffer, size_t capacity);
    virtual void Close();
    void Write(size_t count, const void* bytes);

    size_t Used() const { return used_; }
    size_t Capacity() const { return capacity_; }
    const uint8_t* Buffer() const { return buffer_; }
    const std::string& Name() const { return name_; }

protected:
    // Write's bytes do not fit behind the Used() bytes held: the plain sink fails; a sink that
    // passes its bytes on takes both (and empties the buffer with Drained).
    virtual void Overflow(size_t count, const void* bytes);
    void Drained() { used_ = 0; }

private:
    uint8_t* buffer_ = nullptr;
    size_t used_ = 0;
    std::string name_;
    size_t capacity_ = 0;
};

// A sink that owns a buffer of at most `capacity` bytes and streams to a file whenever it is
// full, so a picture of any size is written with little memory. The file is written under a
// temporary name and renamed into place by Commit, so a failed encode never leaves a
// truncated or half-replaced file behind.
class CFileOutputSink : public COutputSink {
public:
    ~CFileOutputSink() override;

    // 0 on success, ERR_CANNOT_CREATE when the file or the buffer cannot be made.
    int Open(const std::string& fileName, size_t capacity);
    // Writes the encoded bytes and replaces the target file; throws code -1 on a write error.
    void Commit();
    // Discards what was encoded and removes the temporary file.
    void Close() override;

protected:
    void Overflow(size_t count, const void* bytes) override;

private:
    void Fail();

    std::unique_ptr<FILE, int (*)(FILE*)> file_{nullptr, &std::fclose};
    std::unique_ptr<uint8_t[]> ownBuffer_;
    std::string fileName_;
    std::string tempName_;
};
