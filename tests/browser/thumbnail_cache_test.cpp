// Thumbnails fitted into their cells, and the freedesktop thumbnail cache: read by the next
// build (also what other programs wrote), ignored once the file changed, written whole and
// private, and failures remembered until the file changes.

#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/progress_popup.h"
#include "browser/tab_view_container.h"
#include "browser/thumbnail_cache.h"
#include "browser/thumbnail_workers.h"
#include "browser/viewer_model.h"
#include "browser_test_support.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>
#include <zlib.h>

namespace {

const QString kFailed = QStringLiteral("One or more Thumbnails could not be created.\nFile Names removed from Image List");
const QColor kBackground(240, 240, 240);

QStringList Rows(const QListWidget& list) {
    QStringList rows;
    for (int row = 0; row < list.count(); ++row) rows << list.item(row)->text();
    return rows;
}

int Mode(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? static_cast<int>(status.st_mode & 0777) : -1;
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 16 && std::abs(a.green() - b.green()) < 16 && std::abs(a.blue() - b.blue()) < 16;
}

void Retime(const QString& path, const QDateTime& time) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
}

QDateTime ModifiedAt(const QString& path) { return QFileInfo(path).lastModified(); }

// A thumbnail PNG as another program would write it: its tEXt chunks before the pixels.
void WriteThumbnail(const QString& path, const QString& uri, const QDateTime& mtime, QSize size, QColor colour) {
    QDir().mkpath(QFileInfo(path).path());
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "png"));
    QByteArray chunks;
    for (const auto& [key, value] : {std::pair{QByteArray("Thumb::URI"), uri.toLatin1()},
                                     {QByteArray("Thumb::MTime"), QByteArray::number(mtime.toSecsSinceEpoch())}}) {
        const QByteArray body = "tEXt" + key + '\0' + value;
        QByteArray length(4, '\0'), crc(4, '\0');
        qToBigEndian(static_cast<quint32>(body.size() - 4), length.data());
        qToBigEndian(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())), crc.data());
        chunks += length + body + crc;
    }
    png.insert(33, chunks);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png);
}

class ThumbnailCache : public ::testing::Test {
protected:
    void SetUp() override {
        savedCacheHome = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
        // A space in the folder's name: the URI the cache is keyed by is percent-encoded.
        folder = photos.path() + QStringLiteral("/My Photos");
        QDir().mkpath(folder);
        bar.NamesList()->SetFilter(QStringLiteral("jpg|bmp|png"));
        bar.resize(260, 400);
        bar.show();
        bar.Tabs()->ActivatePage(1);
    }
    void TearDown() override {
        qputenv("XDG_CACHE_HOME", savedCacheHome);
    }

    QString Path(const QString& name) const { return folder + QLatin1Char('/') + name; }
    QString Thumbnails() const { return cacheHome.path() + QStringLiteral("/thumbnails"); }
    QString Cached(const QString& kind, const QString& path) const {
        return Thumbnails() + QLatin1Char('/') + kind + QLatin1Char('/') +
               CThumbnailCache::FileNameOf(CThumbnailCache::UriOf(path));
    }

    // Lists the folder as after a folder change and builds its thumbnails to the end.
    void Build() {
        ASSERT_TRUE(bar.NamesList()->SetFolder(folder));
        model.g_strLastDirectory = folder;
        model.g_bFolderChanged = true;
        QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
        bar.BuildThumbnails();
        if (ended.isEmpty()) {
            ASSERT_TRUE(ended.wait(30000));
        }
    }

    QTemporaryDir cacheHome;
    QTemporaryDir photos;
    QByteArray savedCacheHome;
    QString folder;
    CScriptedSeam seam;
    CViewerModel model;
    CFileListBar bar{model};
};

TEST_F(ThumbnailCache, PicturesAreFittedIntoTheirCellsNotSqueezed) {
    WritePicture(Path(QStringLiteral("tall.png")), 100, 400, Qt::blue);
    WritePicture(Path(QStringLiteral("wide.png")), 400, 100, Qt::red);
    Build();
    ASSERT_EQ(Rows(*bar.ThumbnailList()), (QStringList{"tall.png", "wide.png"}));
    const QImage tall = bar.ThumbnailImages()[0];
    const QImage wide = bar.ThumbnailImages()[1];
    ASSERT_EQ(tall.size(), QSize(100, 75));
    ASSERT_EQ(wide.size(), QSize(100, 75));

    // 1 : 4 in a 100 x 75 cell: a centred column about 19 pixels wide, background beside it.
    int column = 0;
    for (int x = 0; x < 100; ++x) column += tall.pixelColor(x, 37) == QColor(Qt::blue);
    EXPECT_NEAR(column, 19, 1);
    EXPECT_EQ(tall.pixelColor(2, 37), kBackground);
    EXPECT_EQ(tall.pixelColor(97, 37), kBackground);
    EXPECT_EQ(CentreColour(tall), QColor(Qt::blue));
    EXPECT_EQ(tall.pixelColor(50, 0), QColor(Qt::blue)) << "the long side fills the cell";

    int band = 0;
    for (int y = 0; y < 75; ++y) band += wide.pixelColor(50, y) == QColor(Qt::red);
    EXPECT_EQ(band, 25);
    EXPECT_EQ(wide.pixelColor(50, 2), kBackground);
    EXPECT_EQ(wide.pixelColor(50, 72), kBackground);
    EXPECT_EQ(wide.pixelColor(0, 37), QColor(Qt::red));
}

TEST_F(ThumbnailCache, TheNextBuildReadsTheCacheUntilTheFileChanges) {
    const QString photo = WritePicture(Path(QStringLiteral("photo.jpg")), 640, 480, Qt::red);
    const QString small = WritePicture(Path(QStringLiteral("small.png")), 80, 60, Qt::green);
    Build();
    ASSERT_EQ(bar.ThumbnailImages().size(), 2u);
    EXPECT_TRUE(Near(CentreColour(bar.ThumbnailImages()[0]), Qt::red));

    // Written whole and private, under the name and with the keys the standard gives.
    const QString uri = CThumbnailCache::UriOf(photo);
    EXPECT_EQ(uri, QStringLiteral("file://") + QString(folder).replace(QStringLiteral(" "), QStringLiteral("%20")) +
                       QStringLiteral("/photo.jpg"));
    const QString cached = Cached(QStringLiteral("normal"), photo);
    const QImage written(cached, "png");
    EXPECT_EQ(written.text(QStringLiteral("Thumb::URI")), uri);
    EXPECT_EQ(written.text(QStringLiteral("Thumb::MTime")), QString::number(ModifiedAt(photo).toSecsSinceEpoch()));
    EXPECT_EQ(written.text(QStringLiteral("Thumb::Size")), QString::number(QFileInfo(photo).size()));
    EXPECT_FALSE(written.text(QStringLiteral("Software")).isEmpty());
    EXPECT_EQ(written.size(), QSize(128, 96));
    EXPECT_EQ(Mode(cached), 0600);
    EXPECT_EQ(Mode(Thumbnails()), 0700);
    EXPECT_EQ(Mode(Thumbnails() + QStringLiteral("/normal")), 0700);
    EXPECT_FALSE(QFile::exists(Cached(QStringLiteral("normal"), small))) << "a picture that fits the cell is not cached";
    EXPECT_EQ(QDir(Thumbnails() + QStringLiteral("/normal")).entryList(QDir::Files).size(), 1);

    // Pixels only the cache has: the next build shows them.
    WriteThumbnail(cached, uri, ModifiedAt(photo), {128, 96}, Qt::blue);
    Build();
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[0]), QColor(Qt::blue));

    // A large thumbnail another program made serves as well.
    QFile::remove(cached);
    WriteThumbnail(Cached(QStringLiteral("large"), photo), uri, ModifiedAt(photo), {256, 192}, Qt::yellow);
    Build();
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[0]), QColor(Qt::yellow));
    EXPECT_FALSE(QFile::exists(cached)) << "nothing was decoded, so nothing was written";

    // The file changed: its cached thumbnails are stale, the picture is decoded again and
    // the cache renewed.
    WriteThumbnail(cached, uri, ModifiedAt(photo), {128, 96}, Qt::blue);
    const QDateTime changed = ModifiedAt(photo).addSecs(100);
    Retime(photo, changed);
    Build();
    EXPECT_TRUE(Near(CentreColour(bar.ThumbnailImages()[0]), Qt::red));
    EXPECT_EQ(QImage(cached, "png").text(QStringLiteral("Thumb::MTime")), QString::number(changed.toSecsSinceEpoch()));
    EXPECT_TRUE(seam.messages.isEmpty());

    // Another program's thumbnail of a file this viewer cannot read stands for nothing.
    const QString junk = WriteJunk(Path(QStringLiteral("junk.png")));
    WriteThumbnail(Cached(QStringLiteral("normal"), junk), CThumbnailCache::UriOf(junk), ModifiedAt(junk), {128, 96},
                   Qt::blue);
    Build();
    EXPECT_EQ(Rows(*bar.ThumbnailList()), (QStringList{"photo.jpg", "small.png"}));
    EXPECT_EQ(seam.messages, QStringList{kFailed});
}

TEST_F(ThumbnailCache, AFailedFileIsRememberedUntilItChangesAndStillLeavesBothPages) {
    WritePicture(Path(QStringLiteral("good.bmp")), 40, 30, Qt::red);
    const QString broken = WriteJunk(Path(QStringLiteral("broken.png")));
    Build();
    EXPECT_EQ(Rows(*bar.NamesList()), QStringList{"good.bmp"});
    EXPECT_EQ(Rows(*bar.ThumbnailList()), QStringList{"good.bmp"});
    EXPECT_EQ(seam.messages, QStringList{kFailed});
    const QString record = Thumbnails() + QStringLiteral("/fail/vantoro-image-viewer/") +
                           CThumbnailCache::FileNameOf(CThumbnailCache::UriOf(broken));
    const QImage mark(record, "png");
    EXPECT_EQ(mark.text(QStringLiteral("Thumb::URI")), CThumbnailCache::UriOf(broken));
    EXPECT_EQ(mark.text(QStringLiteral("Thumb::MTime")), QString::number(ModifiedAt(broken).toSecsSinceEpoch()));
    EXPECT_EQ(Mode(Thumbnails() + QStringLiteral("/fail")), 0700);

    // Readable now, but with the time it failed at: the record stands, nothing is decoded.
    const QDateTime failedAt = ModifiedAt(broken);
    WritePicture(broken, 40, 30, Qt::blue);
    Retime(broken, failedAt);
    Build();
    EXPECT_EQ(Rows(*bar.NamesList()), QStringList{"good.bmp"});
    EXPECT_EQ(Rows(*bar.ThumbnailList()), QStringList{"good.bmp"});
    EXPECT_EQ(seam.messages, (QStringList{kFailed, kFailed})) << "it still counts as failed, and is told";

    // Changed: decoded and shown.
    Retime(broken, failedAt.addSecs(100));
    Build();
    EXPECT_EQ(Rows(*bar.ThumbnailList()), (QStringList{"broken.png", "good.bmp"}));
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[0]), QColor(Qt::blue));
    EXPECT_EQ(seam.messages.size(), 2);
}

TEST_F(ThumbnailCache, CancelStopsEveryWorkerAndLeavesOnlyWholeThumbnails) {
    for (int i = 0; i < 24; ++i) WritePicture(Path(QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0'))), 1600, 1200, Qt::red);
    ASSERT_TRUE(bar.NamesList()->SetFolder(folder));
    model.g_strLastDirectory = folder;
    model.g_bFolderChanged = true;
    QSignalSpy made(bar.ThumbnailList()->model(), &QAbstractItemModel::dataChanged);
    bar.BuildThumbnails();
    ASSERT_TRUE(made.wait(30000)) << "a first thumbnail";
    auto* popup = bar.findChild<CProgressPopup*>();
    ASSERT_NE(popup, nullptr);
    QTest::mouseClick(popup->CancelButton(), Qt::LeftButton);

    EXPECT_FALSE(bar.IsBuilding());
    EXPECT_EQ(CThumbnailWorkers::RunningThreads(), 0);
    EXPECT_EQ(seam.messages, QStringList{"Thumbnail Creation Canceled"});
    EXPECT_EQ(bar.ThumbnailList()->count(), 0);
    const QDir normal(Thumbnails() + QStringLiteral("/normal"));
    const QRegularExpression whole(QStringLiteral("^[0-9a-f]{32}\\.png$"));
    for (const QString& name : normal.entryList(QDir::Files | QDir::Hidden)) {
        EXPECT_TRUE(whole.match(name).hasMatch()) << name.toStdString();
        EXPECT_EQ(QImageReader(normal.filePath(name), "png").size(), QSize(128, 96)) << name.toStdString();
    }
}

}  // namespace
