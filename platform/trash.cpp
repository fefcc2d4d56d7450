#include "platform/trash.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A clash of names in the trash is tried again under "name 2", "name 3", ... this many times
// in all; any other failure to create the info file ends the attempt at once.
constexpr int kNameAttempts = 1000;

QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString Shown(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closing may report a failed write (on network file systems): it is checked.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsRealFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates the folder and each missing folder above it with mode 0700 (the trash holds the
// user's files; nobody else may look in). An existing folder is accepted as it is.
bool MakeFolders(const std::string& path, QString& reason) {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = end == std::string::npos ? path : path.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = QStringLiteral("The folder %1 cannot be created: %2.").arg(Shown(part), SystemText(errno));
            return false;
        }
        struct stat info {};
        if (::stat(part.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            reason = QStringLiteral("%1 is in the way of the trash: it is not a folder.").arg(Shown(part));
            return false;
        }
        if (end == std::string::npos) return true;
    }
}

std::string UserDataHome() {
    // Relative values are to be ignored, as the base directory rules say.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') return data;
    std::string home;
    if (const char* value = std::getenv("HOME"); value != nullptr && value[0] == '/') {
        home = value;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
        home = user->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.local/share";
}

// The device a path lies on, or would lie on once created: that of its nearest existing folder.
std::optional<dev_t> DeviceOf(std::string path) {
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) return info.st_dev;
        if (path == "/" || path == ".") return std::nullopt;
        path = Parent(path);
    }
}

// The mount point above folder: the highest folder still on its device.
std::string TopFolder(std::string folder, dev_t device) {
    while (folder != "/") {
        const std::string parent = Parent(folder);
        struct stat info {};
        if (::stat(parent.c_str(), &info) != 0 || info.st_dev != device) break;
        folder = parent;
    }
    return folder;
}

// The trash of the volume at topdir: $topdir/.Trash/$uid when the administrator made
// $topdir/.Trash a real folder with the sticky bit (so users cannot take each other's
// folders), else the user's own $topdir/.Trash-$uid.
std::optional<std::string> VolumeTrash(const std::string& topdir, QString& reason) {
    const std::string uid = std::to_string(::getuid());
    const std::string shared = (topdir == "/" ? std::string() : topdir) + "/.Trash";
    struct stat info {};
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0) {
        const std::string own = shared + "/" + uid;
        if ((::mkdir(own.c_str(), 0700) == 0 || errno == EEXIST) && IsRealFolder(own)) return own;
    }
    const std::string own = shared + "-" + uid;
    if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = QStringLiteral("The trash of the volume %1 cannot be created: %2.").arg(Shown(topdir), SystemText(errno));
        return std::nullopt;
    }
    if (!IsRealFolder(own)) {
        reason = QStringLiteral("The trash of the volume %1 is not a folder.").arg(Shown(own));
        return std::nullopt;
    }
    return own;
}

QByteArray TrashInfo(const std::string& originalPath) {
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(QByteArray::fromStdString(originalPath), "/") +
           "\nDeletionDate=" + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1() +
           "\n";
}

// "photo.jpg", then "photo 2.jpg", "photo 3.jpg", ...: the extension stays, so the trash
// still shows what kind of file each one is.
std::string TrashName(const std::string& name, int attempt) {
    if (attempt == 1) return name;
    const auto dot = name.find_last_of('.');
    const auto split = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, split) + " " + std::to_string(attempt) + name.substr(split);
}

bool RenameIfFree(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    // File systems without the flag: the name was seen free just before.
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// Writes the info file first and moves the file second, as the trash's readers expect; a step
// that fails undoes the one before, so the file is either in the trash with its info or
// where it was.
bool MoveInto(const std::string& trash, const std::string& path, const std::string& recordedPath, QString& reason) {
    const std::string files = trash + "/files";
    const std::string infos = trash + "/info";
    if (!MakeFolders(files, reason) || !MakeFolders(infos, reason)) return false;
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const QByteArray info = TrashInfo(recordedPath);
    for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
        const std::string trashName = TrashName(name, attempt);
        const std::string infoPath = infos + "/" + trashName + ".trashinfo";
        Descriptor fd(::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd.Get() < 0) {
            if (errno == EEXIST) continue;
            reason = QStringLiteral("The trash's folder %1 cannot be written: %2.").arg(Shown(infos), SystemText(errno));
            return false;
        }
        const ssize_t written = ::write(fd.Get(), info.constData(), static_cast<size_t>(info.size()));
        const int writeError = errno;
        if (!fd.Close() || written != info.size()) {
            ::unlink(infoPath.c_str());
            reason = QStringLiteral("The trash's folder %1 cannot be written: %2.")
                         .arg(Shown(infos), SystemText(written < 0 ? writeError : ENOSPC));
            return false;
        }
        const std::string target = files + "/" + trashName;
        if (RenameIfFree(path, target)) return true;
        const int renameError = errno;
        ::unlink(infoPath.c_str());
        // A file left in the trash without its info still holds the name.
        if (renameError == EEXIST || renameError == ENOTEMPTY) continue;
        reason = QStringLiteral("The file cannot be moved into %1: %2.").arg(Shown(files), SystemText(renameError));
        return false;
    }
    reason = QStringLiteral("The trash already holds %1 files named like this one.").arg(kNameAttempts);
    return false;
}

}  // namespace

bool MoveToTrash(const QString& path, QString& reason) {
    const std::string given = QFile::encodeName(path).toStdString();
    struct stat file {};
    if (given.empty() || ::lstat(given.c_str(), &file) != 0) {
        reason = QStringLiteral("The file does not exist.");
        return false;
    }
    // The file itself may be a link, which goes to the trash as a link: only its folder is resolved.
    std::string folder;
    if (char* resolved = ::realpath(Parent(given).c_str(), nullptr); resolved != nullptr) {
        folder = resolved;
        std::free(resolved);
    } else {
        reason = QStringLiteral("The file's folder cannot be read: %1.").arg(SystemText(errno));
        return false;
    }
    const std::string name = given.substr(given.find_last_of('/') + 1);
    const std::string absolute = (folder == "/" ? std::string() : folder) + "/" + name;

    const std::string dataHome = UserDataHome();
    if (!dataHome.empty() && DeviceOf(dataHome) == file.st_dev)
        return MoveInto(dataHome + "/Trash", absolute, absolute, reason);

    // Another volume: its own trash, which records paths from the volume's top (the volume
    // may be mounted elsewhere next time). Never the home trash, which would copy the file.
    const std::string topdir = TopFolder(folder, file.st_dev);
    const std::optional<std::string> trash = VolumeTrash(topdir, reason);
    if (!trash) return false;
    const std::string relative = topdir == "/" ? absolute.substr(1) : absolute.substr(topdir.size() + 1);
    return MoveInto(*trash, absolute, relative, reason);
}
