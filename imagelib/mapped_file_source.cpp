#include "byte_source.h"

#include "text_exception.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
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
    if (!data_) return;
    // Often reached while an exception unwinds: a listener that throws on the last progress
    // report must not end the program.
    try {
        Close();
    } catch (...) {
    }
}

int CMappedFileSource::Open(const std::string& fileName) {
    // Without O_NONBLOCK a FIFO would wait for a writer before anything could be checked.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
            return MissingPathCode(fileName);
        case ENOTDIR:
            return ERR_NO_SUCH_PATH;
        case EACCES:
        case EPERM:
        case ENXIO:  // a socket, or a device without its driver
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
    // The file is read, not mapped: a mapped file that another program shortens while it is
    // decoded ends the process with SIGBUS on the first page past its new end. A file that
    // shrinks before it is read whole fails here with code 5; one that grows is read as it
    // was when opened.
    const auto size = static_cast<size_t>(info.st_size);
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size]);
    if (!data) {
        ::close(fd);
        return ERR_OUT_OF_MEMORY;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, data.get() + done, size - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            return ERR_NO_ACCESS;
        }
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    data_ = std::move(data);
    cursor_ = data_.get();
    Prepare(fileName, size);
    return 0;
}

void CMappedFileSource::Close() {
    // The data goes before the listener hears of it, so a throwing listener leaks nothing.
    data_.reset();
    cursor_ = nullptr;
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
