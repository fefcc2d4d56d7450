#pragma once

#include <cstddef>
#include <cstdint>

// Keeps a read-only file mapping safe from the file shrinking under it. Touching a mapped page
// that lies past a file's new end raises SIGBUS, which would end the process; while a range
// is guarded, a SIGBUS inside it instead maps zero-filled pages over the rest of the range
// and marks the guard as tripped, so the reader sees zeros and can fail cleanly. A SIGBUS
// anywhere else goes to the handler that was there before.
//
// At most a fixed number of ranges are guarded at once; Guard returns false when all slots
// are taken, and the caller should then not rely on a mapping.
class CMappingGuard {
public:
    CMappingGuard() = default;
    ~CMappingGuard() { Release(); }
    CMappingGuard(const CMappingGuard&) = delete;
    CMappingGuard& operator=(const CMappingGuard&) = delete;

    bool Guard(const uint8_t* start, size_t size);
    void Release();
    // The file shrank under the range: part of what was read from it is zeros.
    bool Tripped() const;

private:
    int slot_ = -1;
};
