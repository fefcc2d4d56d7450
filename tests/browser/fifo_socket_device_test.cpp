// A FIFO, a socket and a device named like pictures in a listed folder: the decoder refuses
// them at once, and listing the folder and building its thumbnails pass them by. Nothing may
// wait for a writer that never comes: a watchdog releases a blocked reader and the test fails.

#include "browser/directory_tree_bar.h"
#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/namespace_tree.h"
#include "browser/viewer_model.h"
#include "browser_test_support.h"
#include "codecs/auto_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// Opens the FIFO for writing once, after a grace period, unless stopped first: a reader
// blocked in open() then goes on, and `released` tells that it had to.
class FifoWatchdog {
public:
    explicit FifoWatchdog(std::string fifo) : fifo_(std::move(fifo)), thread_([this] { Run(); }) {}
    ~FifoWatchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    bool Released() const { return released_; }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::seconds(10), [this] { return stop_; })) return;
        const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            released_ = true;
            ::close(fd);
        }
    }

    std::string fifo_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> released_{false};
    std::thread thread_;
};

class SpecialFiles : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        folder = QString::fromStdString(dir.Path().string());
        WritePicture(Path(QStringLiteral("a.bmp")), 40, 30, Qt::red);
        ASSERT_EQ(::mkfifo(Local(QStringLiteral("fifo.bmp")).c_str(), 0644), 0);
        special << QStringLiteral("fifo.bmp");
        MakeSocket();
        // A device: made as root, else the null device's own node under a picture's name.
        if (::mknod(Local(QStringLiteral("null.jpg")).c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0 ||
            ::symlink("/dev/null", Local(QStringLiteral("null.jpg")).c_str()) == 0)
            special << QStringLiteral("null.jpg");
    }
    void TearDown() override {
        app.reset();
        if (socket_ >= 0) ::close(socket_);
    }

    QString Path(const QString& name) const { return folder + QLatin1Char('/') + name; }
    std::string Local(const QString& name) const { return QFile::encodeName(Path(name)).toStdString(); }

    void MakeSocket() {
        const std::string path = Local(QStringLiteral("sock.png"));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) return;
        path.copy(address.sun_path, path.size());
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(socket_, 1) == 0)
            special << QStringLiteral("sock.png");
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CImageFileList& Names() { return *Frame().FileList()->NamesList(); }
    int RowOf(const QString& name) {
        for (int row = 0; row < Names().count(); ++row)
            if (Names().item(row)->text() == name) return row;
        return -1;
    }

    TempDir dir;
    QString folder;
    QStringList special;
    int socket_ = -1;
    CScriptedSeam seam;
    std::unique_ptr<CTest11App> app;
};

// The library refuses them as files it cannot read, before reading a byte.
TEST_F(SpecialFiles, TheDecoderRefusesThemAtOnce) {
    const FifoWatchdog watchdog(Local(QStringLiteral("fifo.bmp")));
    for (const QString& name : special) {
        SCOPED_TRACE(name.toStdString());
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        int code = 0;
        try {
            decoder.DecodeFile(Local(name), bitmap, 32);
        } catch (const CTextException& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, ERR_NO_ACCESS);
        code = 0;
        try {
            decoder.ProbeFile(Local(name));
        } catch (const CTextException& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, ERR_NO_ACCESS);
    }
    EXPECT_FALSE(watchdog.Released()) << "a decode waited on the FIFO";
}

// The viewer lists the folder's pictures and builds their thumbnails; the special files
// are no pictures of it, and nothing waits on them.
TEST_F(SpecialFiles, TheListAndTheThumbnailsPassThemByWithoutWaiting) {
    const FifoWatchdog watchdog(Local(QStringLiteral("fifo.bmp")));
    app = std::make_unique<CTest11App>();
    ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
    ASSERT_TRUE(Settle(*app->Document()));
    ASSERT_TRUE(Frame().DirectoryTree()->Tree()->SelectPath(folder, false));
    ASSERT_TRUE(Settle(*app->Document()));
    EXPECT_FALSE(watchdog.Released()) << "listing the folder waited on the FIFO";
    for (const QString& name : special) EXPECT_EQ(RowOf(name), -1) << name.toStdString() << " is listed";
    ASSERT_EQ(Names().count(), 1);

    Names().SelectRow(0);
    ASSERT_TRUE(Settle(*app->Document()));
    EXPECT_TRUE(Frame().Model().g_bImageLoaded);

    CFileListBar& bar = *Frame().FileList();
    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    seam.messages.clear();
    ASSERT_TRUE(Frame().Commands().Execute(ID_THUMBNAILS));
    ASSERT_TRUE(ended.count() > 0 || ended.wait(20000));
    EXPECT_FALSE(watchdog.Released()) << "the thumbnails waited on the FIFO";
    EXPECT_EQ(bar.ThumbnailList()->count(), 1);
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
}

}  // namespace
