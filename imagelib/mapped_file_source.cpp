#include "byte_source.h"

#include "text_exception.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
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
    if (cursor_ == nullptr) return;
    // Often reached while an exception unwinds: a listener that throws on the last progress
    // report must not end the program.
    try {
        Close();
    } catch (...) {
    }
}

int OpenPictureFile(const std::string& fileName, int& fd) {
    // Some devices act on being opened (a tape rewinds, a modem hangs up): only regular
    // files are opened at all.
    if (struct stat before {}; ::stat(fileName.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) return ERR_NO_ACCESS;
    // Something else may take the name meanwhile. Without O_NONBLOCK a FIFO would wait for
    // a writer before it could be checked.
    fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) return 0;
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

int CMappedFileSource::Open(const std::string& fileName) {
    int fd = -1;
    if (const int failure = OpenPictureFile(fileName, fd); failure != 0) return failure;
    const int result = OpenDescriptor(fd, fileName);
    ::close(fd);
    return result;
}

int CMappedFileSource::OpenDescriptor(int fd, const std::string& fileName) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return ERR_NO_ACCESS;
    const auto size = static_cast<size_t>(info.st_size);
    // Mapped, populated at once (far cheaper than a page fault per 4 KiB, and no copy), and
    // guarded: another program may shorten the file while it is decoded.
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (view != MAP_FAILED && guard_.Guard(static_cast<const uint8_t*>(view), size)) {
        ::madvise(view, size, MADV_SEQUENTIAL);
        view_ = static_cast<const uint8_t*>(view);
        viewSize_ = size;
    } else {
        if (view != MAP_FAILED) ::munmap(view, size);
        // No mapping to be had: the file is read instead.
        std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size]);
        if (!data) return ERR_OUT_OF_MEMORY;
        size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(fd, data.get() + done, size - done, static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return ERR_NO_ACCESS;
            done += static_cast<size_t>(got);
        }
        data_ = std::move(data);
    }
    cursor_ = view_ != nullptr ? view_ : data_.get();
    Prepare(fileName, size);
    return 0;
}

bool CMappedFileSource::Shrunk() const { return guard_.Tripped(); }

void CMappedFileSource::Close() {
    // The data goes before the listener hears of it, so a throwing listener leaks nothing.
    guard_.Release();
    if (view_ != nullptr) ::munmap(const_cast<uint8_t*>(view_), viewSize_);
    view_ = nullptr;
    viewSize_ = 0;
    data_.reset();
    cursor_ = nullptr;
    CByteSource::Close();
}

const uint8_t* CMappedFileSource::Peek(size_t) { return cursor_; }
const uint8_t* CMappedFileSource::RemainingData() { return cursor_; }

const uint8_t* CMappedFileSource::Read(size_t count) {
    if (Shrunk()) throw CTextException(ERR_END_OF_DATA, "The file shrank while it was being read.\n");
    CByteSource::Read(count);
    const uint8_t* first = cursor_;
    cursor_ += count;
    return first;
}
