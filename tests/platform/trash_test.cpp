// Deleting to the freedesktop trash: where a file may go (the home trash on its own device,
// the volume's trash elsewhere, nowhere else), how clashing names are resolved, and that a
// trash that cannot take the file leaves it where it was, quickly and with a reason.

#include "platform/trash.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

void Write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned Mode(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

dev_t Device(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_dev : 0;
}

// This process's mounts, apart from everyone else's, so test mounts vanish with it. Once.
bool PrivateMounts() {
    static const bool done = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return done;
}

// A folder at the top of a volume of its own: a fresh tmpfs where mounting is permitted,
// else a folder under /dev/shm when that is another device than the temporary folders.
class OtherVolume {
public:
    explicit OtherVolume(const fs::path& mountPoint) {
        fs::create_directories(mountPoint);
        if (PrivateMounts() && ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=8m,mode=0755") == 0) {
            mounted_ = mountPoint;
            top_ = mountPoint;
            folder_ = mountPoint / "pictures";
        } else if (Device("/dev/shm") != 0 && Device("/dev/shm") != Device(mountPoint) &&
                   Device("/dev/shm") != Device("/dev")) {
            // /dev/shm is a volume of its own only where it is mounted (not in a chroot that
            // binds /dev without its submounts).
            top_ = "/dev/shm";
            char pattern[] = "/dev/shm/vt-trash-XXXXXX";
            if (::mkdtemp(pattern) != nullptr) folder_ = pattern;
        }
        if (!folder_.empty()) fs::create_directories(folder_);
    }
    ~OtherVolume() {
        std::error_code ignored;
        if (!mounted_.empty()) {
            ::umount2(mounted_.c_str(), MNT_DETACH);
        } else if (!folder_.empty()) {
            fs::remove_all(folder_, ignored);
            fs::remove_all(top_ / (".Trash-" + std::to_string(::getuid())), ignored);
        }
    }
    OtherVolume(const OtherVolume&) = delete;
    OtherVolume& operator=(const OtherVolume&) = delete;

    bool Usable() const { return !folder_.empty(); }
    // Only a volume of our own may get a shared .Trash folder.
    bool Private() const { return !mounted_.empty(); }
    const fs::path& Top() const { return top_; }
    const fs::path& Folder() const { return folder_; }

private:
    fs::path mounted_;
    fs::path top_;
    fs::path folder_;
};

class Trash : public ::testing::Test {
protected:
    void SetUp() override {
        home = temp.Path() / "home";
        pictures = temp.Path() / "pictures";
        work = temp.Path() / "work";
        for (const fs::path& folder : {home, pictures, work}) fs::create_directories(folder);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        previous = fs::current_path();
        fs::current_path(work);
    }
    void TearDown() override { fs::current_path(previous); }

    fs::path Picture(const std::string& name, const std::string& text = "pixels") {
        Write(pictures / name, text);
        return pictures / name;
    }

    // The file is still there, and nothing went into the program's working folder.
    void ExpectLeftInPlace(const fs::path& file, const QString& reason) {
        EXPECT_TRUE(fs::exists(file)) << file;
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_TRUE(fs::is_empty(work));
    }

    TempDir temp;
    fs::path home, pictures, work, previous;
};

TEST_F(Trash, CreatesTheMissingDataFoldersAndRecordsWhereTheFileWas) {
    const fs::path file = Picture("a cat é.jpg", "cat");
    QString reason;
    ASSERT_TRUE(MoveToTrash(Q(file), reason)) << reason.toStdString();

    const fs::path trash = home / ".local/share/Trash";
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(Read(trash / "files/a cat é.jpg"), "cat");
    for (const fs::path& folder : {home / ".local", home / ".local/share", trash, trash / "files", trash / "info"})
        EXPECT_EQ(Mode(folder), 0700u) << folder;
    const std::string info = Read(trash / "info/a cat é.jpg.trashinfo");
    const std::string path = "Path=" + pictures.string() + "/a%20cat%20%C3%A9.jpg\n";
    EXPECT_EQ(info.rfind("[Trash Info]\n" + path + "DeletionDate=", 0), 0u) << info;
    EXPECT_EQ(info.size(), std::string("[Trash Info]\n").size() + path.size() + std::string("DeletionDate=2026-12-08T23:00:00\n").size());
    // Never the working folder, which once received files/ and info/.
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(Trash, FollowsTheDataHomeWhenItIsAbsoluteOnly) {
    const fs::path data = temp.Path() / "elsewhere/data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    QString reason;
    ASSERT_TRUE(MoveToTrash(Q(Picture("a.bmp")), reason)) << reason.toStdString();
    EXPECT_TRUE(fs::exists(data / "Trash/files/a.bmp"));

    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    ASSERT_TRUE(MoveToTrash(Q(Picture("b.bmp")), reason)) << reason.toStdString();
    EXPECT_TRUE(fs::exists(home / ".local/share/Trash/files/b.bmp"));
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(Trash, ClashingNamesAreNumberedAndEveryFileKeepsItsOwnInfo) {
    const fs::path trash = home / ".local/share/Trash";
    QString reason;
    ASSERT_TRUE(MoveToTrash(Q(Picture("a.bmp", "first")), reason));
    // A file left in the trash without its info holds its name too.
    Write(trash / "files/a 2.bmp", "stray");
    ASSERT_TRUE(MoveToTrash(Q(Picture("a.bmp", "second")), reason));
    ASSERT_TRUE(MoveToTrash(Q(Picture(".hidden", "dotted")), reason));
    ASSERT_TRUE(MoveToTrash(Q(Picture(".hidden", "dotted again")), reason));

    EXPECT_EQ(Read(trash / "files/a.bmp"), "first");
    EXPECT_EQ(Read(trash / "files/a 2.bmp"), "stray");
    EXPECT_EQ(Read(trash / "files/a 3.bmp"), "second");
    EXPECT_FALSE(fs::exists(trash / "info/a 2.bmp.trashinfo"));
    EXPECT_NE(Read(trash / "info/a 3.bmp.trashinfo").find("Path=" + pictures.string() + "/a.bmp\n"), std::string::npos);
    EXPECT_EQ(Read(trash / "files/.hidden 2"), "dotted again");
}

TEST_F(Trash, GivesUpAfterAThousandClashes) {
    const fs::path info = home / ".local/share/Trash/info";
    fs::create_directories(info);
    Write(info / "a.bmp.trashinfo", "");
    for (int i = 2; i <= 1000; ++i) Write(info / ("a " + std::to_string(i) + ".bmp.trashinfo"), "");
    const fs::path file = Picture("a.bmp");
    QString reason;
    EXPECT_FALSE(MoveToTrash(Q(file), reason));
    ExpectLeftInPlace(file, reason);
    EXPECT_TRUE(reason.contains(QStringLiteral("1000"))) << reason.toStdString();
    EXPECT_EQ(std::distance(fs::directory_iterator(info), fs::directory_iterator()), 1000);
}

TEST_F(Trash, AnUnusableTrashLeavesTheFileWhereItWasAtOnce) {
    const fs::path trash = home / ".local/share/Trash";
    const fs::path file = Picture("a.bmp");
    QString reason;

    // The info folder is a file.
    fs::create_directories(trash / "files");
    Write(trash / "info", "");
    EXPECT_FALSE(MoveToTrash(Q(file), reason));
    ExpectLeftInPlace(file, reason);
    EXPECT_TRUE(fs::is_empty(trash / "files"));
    fs::remove(trash / "info");

    // The files folder is a file: the info written first is taken back.
    fs::remove(trash / "files");
    Write(trash / "files", "");
    reason.clear();
    EXPECT_FALSE(MoveToTrash(Q(file), reason));
    ExpectLeftInPlace(file, reason);
    EXPECT_TRUE(!fs::exists(trash / "info") || fs::is_empty(trash / "info"));
    fs::remove(trash / "files");

    // The data home cannot be made at all.
    Write(temp.Path() / "blocked", "");
    ::setenv("XDG_DATA_HOME", (temp.Path() / "blocked/data").c_str(), 1);
    reason.clear();
    EXPECT_FALSE(MoveToTrash(Q(file), reason));
    ExpectLeftInPlace(file, reason);

    // A vanished file.
    reason.clear();
    EXPECT_FALSE(MoveToTrash(Q(pictures / "gone.bmp"), reason));
    EXPECT_EQ(reason, QStringLiteral("The file does not exist."));
}

TEST_F(Trash, AnInfoFolderThatRefusesWritesFailsAtOnce) {
    const fs::path info = home / ".local/share/Trash/info";
    fs::create_directories(info);
    fs::create_directories(home / ".local/share/Trash/files");
    // Permissions stop everyone but root; for root, a read-only view of the folder.
    ::chmod(info.c_str(), 0500);
    bool readOnly = ::access(info.c_str(), W_OK) != 0;
    if (!readOnly && PrivateMounts() && ::mount(info.c_str(), info.c_str(), nullptr, MS_BIND, nullptr) == 0)
        readOnly = ::mount(nullptr, info.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (!readOnly) GTEST_SKIP() << "no way to make a folder read-only here";

    const fs::path file = Picture("a.bmp");
    QString reason;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MoveToTrash(Q(file), reason));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ExpectLeftInPlace(file, reason);
    EXPECT_TRUE(reason.contains(QString::fromStdString(info.string()))) << reason.toStdString();
    ::umount2(info.c_str(), MNT_DETACH);
}

TEST_F(Trash, AFileOnAnotherVolumeGoesToThatVolumesOwnTrash) {
    OtherVolume volume(temp.Path() / "volume");
    if (!volume.Usable()) GTEST_SKIP() << "no second volume to test with";
    ASSERT_NE(Device(volume.Folder()), Device(home));
    const fs::path file = volume.Folder() / "sub dir/a.bmp";
    fs::create_directories(file.parent_path());
    Write(file, "far");

    QString reason;
    ASSERT_TRUE(MoveToTrash(Q(file), reason)) << reason.toStdString();
    const fs::path trash = volume.Top() / (".Trash-" + std::to_string(::getuid()));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(Read(trash / "files/a.bmp"), "far");
    EXPECT_EQ(Mode(trash), 0700u);
    // Recorded from the volume's top, so it can be restored wherever the volume is mounted.
    const std::string relative = fs::relative(file, volume.Top()).string();
    EXPECT_NE(Read(trash / "info/a.bmp.trashinfo").find("\nPath=" + relative.substr(0, relative.find(' ')) + "%20dir/a.bmp\n"),
              std::string::npos);
    // The home trash, on another device, was not touched: that would have copied the file.
    EXPECT_FALSE(fs::exists(home / ".local"));
}

TEST_F(Trash, TheVolumesSharedTrashIsUsedOnlyWhenItIsSafe) {
    OtherVolume volume(temp.Path() / "volume");
    if (!volume.Private()) GTEST_SKIP() << "no volume of this test's own to give a shared trash";
    const std::string uid = std::to_string(::getuid());
    const fs::path shared = volume.Top() / ".Trash";
    const fs::path own = volume.Top() / (".Trash-" + uid);
    QString reason;

    // Without the sticky bit anyone could replace the user's folder in it: not used.
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 0777);
    Write(volume.Folder() / "a.bmp", "a");
    ASSERT_TRUE(MoveToTrash(Q(volume.Folder() / "a.bmp"), reason)) << reason.toStdString();
    EXPECT_TRUE(fs::exists(own / "files/a.bmp"));
    EXPECT_FALSE(fs::exists(shared / uid));

    // A link, even to a proper folder, is not used either.
    const fs::path sticky = volume.Top() / "sticky";
    fs::create_directory(sticky);
    ::chmod(sticky.c_str(), 01777);
    fs::remove(shared);
    fs::create_directory_symlink(sticky, shared);
    Write(volume.Folder() / "b.bmp", "b");
    ASSERT_TRUE(MoveToTrash(Q(volume.Folder() / "b.bmp"), reason)) << reason.toStdString();
    EXPECT_TRUE(fs::exists(own / "files/b.bmp"));
    EXPECT_TRUE(fs::is_empty(sticky));

    // A real sticky folder is the volume's trash, with a folder per user made on demand.
    fs::remove(shared);
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    Write(volume.Folder() / "c.bmp", "c");
    ASSERT_TRUE(MoveToTrash(Q(volume.Folder() / "c.bmp"), reason)) << reason.toStdString();
    EXPECT_EQ(Read(shared / uid / "files/c.bmp"), "c");
    EXPECT_EQ(Mode(shared / uid), 0700u);
}

TEST_F(Trash, AVolumeWithoutAUsableTrashKeepsTheFile) {
    OtherVolume volume(temp.Path() / "volume");
    if (!volume.Private()) GTEST_SKIP() << "no volume of this test's own to block its trash";
    Write(volume.Top() / (".Trash-" + std::to_string(::getuid())), "in the way");
    const fs::path file = volume.Folder() / "a.bmp";
    Write(file, "a");
    QString reason;
    EXPECT_FALSE(MoveToTrash(Q(file), reason));
    ExpectLeftInPlace(file, reason);
    EXPECT_FALSE(fs::exists(home / ".local")) << "never the home trash on another device";
}

}  // namespace
