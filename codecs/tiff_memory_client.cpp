#include "tiff_memory_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The client's state, freed by libtiff's close call.
struct MemoryClient {
    const uint8_t* data;
    toff_t size;
    toff_t position;
};

MemoryClient& Client(thandle_t handle) { return *static_cast<MemoryClient*>(handle); }

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t count) noexcept {
    MemoryClient& client = Client(handle);
    if (count <= 0 || client.position >= client.size) return 0;
    const auto copied = static_cast<tmsize_t>(std::min<toff_t>(static_cast<toff_t>(count), client.size - client.position));
    std::memcpy(buffer, client.data + client.position, static_cast<size_t>(copied));
    client.position += static_cast<toff_t>(copied);
    return copied;
}

// The block may be a read-only mapping of the caller's file: writing is refused.
tmsize_t Write(thandle_t, void*, tmsize_t) noexcept { return 0; }

toff_t Seek(thandle_t handle, toff_t offset, int whence) noexcept {
    MemoryClient& client = Client(handle);
    switch (whence) {
    case SEEK_SET: client.position = offset; break;
    case SEEK_CUR: client.position += offset; break;
    case SEEK_END: client.position = client.size + offset; break;
    default: return static_cast<toff_t>(-1);
    }
    return client.position;
}

int Close(thandle_t handle) noexcept {
    std::unique_ptr<MemoryClient> owned(static_cast<MemoryClient*>(handle));
    return 0;
}

toff_t Size(thandle_t handle) noexcept { return Client(handle).size; }

int Map(thandle_t handle, void** base, toff_t* size) noexcept {
    // libtiff only reads through the mapping of a file opened for reading.
    *base = const_cast<uint8_t*>(Client(handle).data);
    *size = Client(handle).size;
    return 1;
}

void Unmap(thandle_t, void*, toff_t) noexcept {}

}  // namespace

TIFF* TiffMemoryOpen(const uint8_t* data, size_t byteCount, TIFFOpenOptions* options) {
    auto client = std::make_unique<MemoryClient>(MemoryClient{data, byteCount, 0});
    TIFF* tiff = TIFFClientOpenExt("MemSource", "r", client.get(), Read, Write, Seek, Close, Size, Map, Unmap, options);
    // Once the handle exists, TIFFClose frees the state through Close; a failed open does not.
    if (tiff != nullptr) client.release();
    return tiff;
}
