#include "byte_source.h"

#include "text_exception.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ENOENT does not say whether the file or its folder is missing; the folder decides.
int MissingPathCode(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    if (slash == std::string::npos) return ERR_CANNOT_OPEN;
    const std::string folder = slash == 0 ? "/" : fileName.substr(0, slash);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return ERR_NO_SUCH_PATH;
    return ERR_CANNOT_OPEN;
}

}  // namespace

CMappedFileSource::~CMappedFileSource() {
    if (fd_ < 0) return;
    // Often reached while an exception unwinds: a listener that throws on the last progress
    // report must not end the program.
    try {
        Close();
    } catch (...) {
    }
}

int CMappedFileSource::Open(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
            return MissingPathCode(fileName);
        case ENOTDIR:
            return ERR_NO_SUCH_PATH;
        case EACCES:
        case EPERM:
            return ERR_NO_ACCESS;
        default:
            return ERR_CANNOT_OPEN;
        }
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        ::close(fd);
        return ERR_NO_ACCESS;
    }
    const auto size = static_cast<size_t>(info.st_size);
    // Populating the whole mapping at once costs far less than a page fault per 4 KiB.
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return ERR_NO_ACCESS;
    }
    ::madvise(view, size, MADV_SEQUENTIAL);
    fd_ = fd;
    view_ = static_cast<const uint8_t*>(view);
    viewSize_ = size;
    cursor_ = view_;
    Prepare(fileName, size);
    return 0;
}

void CMappedFileSource::Close() {
    if (view_ != nullptr) ::munmap(const_cast<uint8_t*>(view_), viewSize_);
    view_ = nullptr;
    cursor_ = nullptr;
    viewSize_ = 0;
    // The descriptor goes before the listener hears of it, so a throwing listener leaks nothing.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    CByteSource::Close();
}

const uint8_t* CMappedFileSource::Peek(size_t) { return cursor_; }
const uint8_t* CMappedFileSource::RemainingData() { return cursor_; }

const uint8_t* CMappedFileSource::Read(size_t count) {
    CByteSource::Read(count);
    const uint8_t* first = cursor_;
    cursor_ += count;
    return first;
}
