// The whole window over a folder where a third of the files are damaged: truncated, with
// their signature overwritten, with headers claiming enormous pictures, or random bytes
// under image names. Listing, a slide show over every file, the thumbnail build and a show
// over what remains must neither crash nor ask anything during the show, drop exactly the
// files that cannot be shown, and keep memory far below the bitmap storage limit.

#include "browser/directory_tree_bar.h"
#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/namespace_tree.h"
#include "browser/tab_view_container.h"
#include "browser/viewer_model.h"
#include "browser_test_support.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/slide_show.h"
#include "viewer/test11_app.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QSignalSpy>

#include <sys/resource.h>

#include <memory>
#include <random>
#include <set>

namespace {

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray LE16(unsigned v) { return QByteArray{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
QByteArray LE32(unsigned v) { return LE16(v & 0xFFFF) + LE16(v >> 16); }

// Headers that claim pictures of hundreds of megapixels (or more) over a few bytes of data.
std::vector<std::pair<QString, QByteArray>> HostileHeaders() {
    QByteArray bmp = "BM" + LE32(54) + LE32(0) + LE32(54) + LE32(40) + LE32(30000) + LE32(30000) + LE16(1) + LE16(32) +
                     LE32(0) + LE32(0) + LE32(2835) + LE32(2835) + LE32(0) + LE32(0);
    QByteArray gif = "GIF89a" + LE16(65535) + LE16(65535) + QByteArray("\x80\0\0", 3) + QByteArray(6, '\xFF') + ',' +
                     LE16(0) + LE16(0) + LE16(65535) + LE16(65535) + QByteArray("\0\x02\x02\x4C\x01\0;", 8);
    QByteArray pcx(128, '\0');
    pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[65] = 3;
    pcx.replace(8, 4, LE16(65534) + LE16(65534));
    pcx.replace(66, 2, LE16(65535));
    QByteArray tga(18, '\0');
    tga[2] = 10, tga[16] = 32;
    tga.replace(12, 4, LE16(65535) + LE16(65535));
    QByteArray tiff = QByteArray("II*\0", 4) + LE32(8) + LE16(6);
    for (auto [tag, value] : {std::pair{256u, 60000u}, {257u, 60000u}, {258u, 8u}, {262u, 1u}, {273u, 8u}, {279u, 64u}})
        tiff += LE16(tag) + LE16(4) + LE32(1) + LE32(value);
    tiff += LE32(0);
    return {{"bmp", bmp + QByteArray(64, '\x11')},
            {"gif", gif},
            {"pgm", QByteArray("P5\n60000 60000\n255\n") + QByteArray(64, '\x40')},
            {"pcx", pcx + QByteArray(64, '\xC1')},
            {"tga", tga + QByteArray(64, '\xFF')},
            {"tif", tiff}};
}

class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        folder = Q(dir.Path()) + QStringLiteral("/mixed");
        QDir().mkpath(folder);
    }
    void TearDown() override { app.reset(); }

    QString Path(const QString& name) const { return folder + QLatin1Char('/') + name; }

    // 200 small pictures of every format the viewer reads from bitmaps, from Qt's writers
    // and from the checked-in fixtures.
    void WriteGoodFiles() {
        const QStringList fixtures = {"gif/palette_magick.gif",     "gif/interlaced_magick.gif", "tiff/palette_magick.tiff",
                                      "tiff/rgb_lzw_magick.tiff",   "pcx/rgb24_pillow.pcx",      "pcx/palette8_pillow.pcx",
                                      "tga/rgb24_rle_pillow.tga",   "tga/palette8_pillow.tga",   "pict/rgb32_magick.pict",
                                      "pict/palette16_magick.pict", "pgm/p5_255_pillow.pgm",     "jpeg/grey_cjpeg.jpeg"};
        for (int i = 0; i < 200; ++i) {
            const QString stem = QStringLiteral("good%1").arg(i, 3, 10, QLatin1Char('0'));
            QString name;
            if (i % 2 == 0) {
                const QString fixture = fixtures[(i / 2) % fixtures.size()];
                name = stem + QLatin1Char('.') + QFileInfo(fixture).suffix();
                ASSERT_TRUE(QFile::copy(QString::fromStdString(TestDataPath(fixture.toStdString())), Path(name)));
            } else {
                static const char* const kSuffixes[] = {"bmp", "png", "jpg", "pgm"};
                name = stem + QLatin1Char('.') + QLatin1String(kSuffixes[(i / 2) % 4]);
                QImage image(24 + i % 17, 16 + i % 13, QImage::Format_RGB32);
                image.fill(QColor::fromHsv(i * 7 % 360, 200, 220));
                ASSERT_TRUE(image.save(Path(name), name.endsWith(QLatin1String("pgm")) ? "PGM" : nullptr));
            }
            good << name;
        }
    }

    // 100 damaged files, 25 of each kind, made from the good ones and from nothing.
    void WriteDamagedFiles() {
        std::mt19937 random(20261208);
        const auto hostile = HostileHeaders();
        static const char* const kNames[] = {"jpg", "png", "gif", "tif", "bmp", "pcx", "tga", "pct", "pgm", "wmf", "emf"};
        for (int i = 0; i < 25; ++i) {
            const QString source = good[(i * 8) % good.size()];
            const QString suffix = QFileInfo(source).suffix();
            const QByteArray bytes = ReadAll(Path(source));
            WriteAll(Path(QStringLiteral("cut%1.%2").arg(i).arg(suffix)), bytes.left(bytes.size() * (i % 5 + 1) / 8));

            QByteArray clobbered = bytes;
            clobbered.replace(0, 4, "XXXX");
            WriteAll(Path(QStringLiteral("magic%1.%2").arg(i).arg(suffix)), clobbered);

            const auto& [kind, header] = hostile[static_cast<size_t>(i) % hostile.size()];
            const QString huge = QStringLiteral("huge%1.%2").arg(i).arg(kind);
            WriteAll(Path(huge), header);
            hugeNames << huge;

            QByteArray noise(static_cast<int>(random() % 4000 + 1), '\0');
            for (char& c : noise) c = static_cast<char>(random());
            WriteAll(Path(QStringLiteral("noise%1.%2").arg(i).arg(QLatin1String(kNames[i % 11]))), noise);
        }
    }

    QStringList NamesRows() {
        QStringList rows;
        for (int row = 0; row < Names().count(); ++row) rows << Names().item(row)->text();
        return rows;
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CViewerModel& Model() { return app->MainFrame()->Model(); }
    CImageFileList& Names() { return *Frame().FileList()->NamesList(); }

    TempDir dir;
    QString folder;
    QStringList good;
    QStringList hugeNames;
    CScriptedSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(HostileFolder, ThreeHundredFilesAreListedShownAndThumbnailed) {
    WriteGoodFiles();
    WriteDamagedFiles();
    ASSERT_EQ(QDir(folder).entryList(QDir::Files).size(), 300);

    app = std::make_unique<CTest11App>();
    ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
    ASSERT_TRUE(Settle(*app->Document()));
    ASSERT_TRUE(Frame().DirectoryTree()->Tree()->SelectPath(folder, false));
    ASSERT_TRUE(Settle(*app->Document()));
    ASSERT_EQ(Names().count(), 300) << "every file is listed by its name";
    seam.messages.clear();

    // A show over every file, once round and back to the start: failures pass silently.
    // The steps are the test's own; the timer waits far longer than the test runs.
    CSlideShow& show = Frame().SlideShow();
    show.SetDelay(3600);
    ASSERT_TRUE(Frame().Commands().Execute(ID_SLIDE_SHOW));
    for (int step = 0; step < 300; ++step) {
        show.Step();
        ASSERT_TRUE(Settle(*app->Document()));
    }
    EXPECT_EQ(show.Position(), 0);
    ASSERT_TRUE(Frame().Commands().Execute(ID_STOP_SLIDE_SHOW));
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();

    // The thumbnails: what fails goes from both pages, with one message.
    CFileListBar& bar = *Frame().FileList();
    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    ASSERT_TRUE(Frame().Commands().Execute(ID_THUMBNAILS));
    ASSERT_TRUE(ended.count() > 0 || ended.wait(120000));
    const QStringList kept = NamesRows();
    EXPECT_EQ(bar.ThumbnailList()->count(), kept.size());
    EXPECT_EQ(bar.ThumbnailImages().size(), static_cast<size_t>(kept.size()));
    for (const QString& name : good) EXPECT_TRUE(kept.contains(name)) << name.toStdString();
    for (const QString& name : hugeNames) EXPECT_FALSE(kept.contains(name)) << name.toStdString();
    EXPECT_LE(kept.size(), 275) << "the hostile headers and at least as many others fail";
    EXPECT_EQ(seam.messages.count(QStringLiteral(
                  "One or more Thumbnails could not be created.\nFile Names removed from Image List")),
              1);
    RecordProperty("kept", static_cast<int>(kept.size()));

    // A show over what remains, all the way round.
    seam.messages.clear();
    ASSERT_TRUE(Frame().Commands().Execute(ID_SLIDE_SHOW));
    for (int step = 0; step < kept.size(); ++step) {
        show.Step();
        ASSERT_TRUE(Settle(*app->Document()));
    }
    ASSERT_TRUE(Frame().Commands().Execute(ID_STOP_SLIDE_SHOW));
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(Model().g_bImageLoaded) << "every file left shows";

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakMiB = usage.ru_maxrss / 1024;
    RecordProperty("peak_rss_mib", static_cast<int>(peakMiB));
    std::printf("peak resident memory: %ld MiB, %lld files kept\n", peakMiB, static_cast<long long>(kept.size()));
#if defined(VT_SANITIZED_BUILD)
    // The sanitizers keep freed memory in quarantine (256 MiB) and shadow what is in use.
    constexpr long kPeakLimitMiB = 768;
#else
    constexpr long kPeakLimitMiB = 512;
#endif
    EXPECT_LT(peakMiB, kPeakLimitMiB) << "no damaged file may claim memory for the picture its header promises";
}

}  // namespace
