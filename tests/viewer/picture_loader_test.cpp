#include "imagelib/dib_section_bitmap.h"
#include "support/test_files.h"
#include "viewer/picture_loader.h"
#include "viewer/test11_doc.h"
#include "browser/viewer_model.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <filesystem>

namespace {

// A picture of noise, which takes the PNG decoder long enough that a later request
// reliably finds it still running.
QString WriteSlowPng(const std::string& path, int side) {
    QImage noise(side, side, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < side; ++x) row[x] = 0xFF000000u | random.generate();
    }
    noise.save(QString::fromStdString(path), "PNG", 0);
    return QString::fromStdString(path);
}

QString WritePlain(const std::string& path, int width, int height, QRgb colour) {
    WriteBmp32(path, width, height, [colour](int, int) { return colour; });
    return QString::fromStdString(path);
}

QRgb CornerOf(const CPictureLoader::Picture& picture) {
    const BGRA pixel = picture->PixelLine(0)[0];
    return qRgb(pixel.r, pixel.g, pixel.b);
}

class PictureLoader : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(PictureLoader, TheNewestRequestWinsAndOlderOnesAreNeverAnswered) {
    const QString slow = WriteSlowPng(dir.File("slow.png"), 2000);
    const QString quick = WritePlain(dir.File("quick.bmp"), 8, 6, qRgb(10, 200, 30));
    CPictureLoader loader;
    QSignalSpy loaded(&loader, &CPictureLoader::Loaded);
    loader.Load(slow);
    loader.Load(quick);
    ASSERT_TRUE(loaded.wait(20000));
    // Anything still on its way would arrive within these turns of the event loop.
    QApplication::processEvents();
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0][0].toString(), quick);
    const auto picture = loaded[0][1].value<CPictureLoader::Picture>();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Size(), (std::pair{8, 6}));
    EXPECT_EQ(CornerOf(picture), qRgb(10, 200, 30));
    EXPECT_FALSE(loader.IsLoading());
}

TEST_F(PictureLoader, PreloadedPicturesAnswerAtOnceUnlessTheirFileChanged) {
    const QString next = WritePlain(dir.File("next.bmp"), 20, 10, qRgb(200, 0, 0));
    const QString broken = QString::fromStdString(dir.File("broken.bmp"));
    WriteBytes(broken.toStdString(), {'B', 'M', 1, 2, 3});
    CPictureLoader loader;
    QSignalSpy preloaded(&loader, &CPictureLoader::Preloaded);
    loader.Preload({next, broken});
    while (preloaded.size() < 2) ASSERT_TRUE(preloaded.wait(20000));
    EXPECT_GE(loader.PreloadedBytes(), 20 * 10 * 4);

    QSignalSpy loaded(&loader, &CPictureLoader::Loaded);
    loader.Load(next);
    ASSERT_EQ(loaded.size(), 1) << "a preloaded picture is answered before Load returns";
    EXPECT_EQ(CornerOf(loaded[0][1].value<CPictureLoader::Picture>()), qRgb(200, 0, 0));
    loader.Load(broken);
    ASSERT_EQ(loaded.size(), 2) << "so is a file whose preload failed";
    EXPECT_FALSE(loaded[1][1].value<CPictureLoader::Picture>());
    EXPECT_NE(loaded[1][3].toInt(), 0);

    // Another program rewrites the preloaded file: the new pixels show.
    loader.Preload({next});
    WritePlain(next.toStdString(), 21, 10, qRgb(0, 0, 250));
    loader.Load(next);
    if (loaded.size() == 2) {
        ASSERT_TRUE(loaded.wait(20000));
    }
    const auto picture = loaded.last()[1].value<CPictureLoader::Picture>();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 21);
    EXPECT_EQ(CornerOf(picture), qRgb(0, 0, 250));
}

TEST_F(PictureLoader, PreloadsBeyondTheBudgetAreLetGoAndDecodedAgainWhenAskedFor) {
    // Each picture takes 400 x 400 x 4 bytes; the budget holds one.
    const QString first = WritePlain(dir.File("first.bmp"), 400, 400, qRgb(1, 2, 3));
    const QString second = WritePlain(dir.File("second.bmp"), 400, 400, qRgb(4, 5, 6));
    CPictureLoader loader(400 * 400 * 4 + 1000);
    QSignalSpy preloaded(&loader, &CPictureLoader::Preloaded);
    loader.Preload({first, second});
    while (preloaded.size() < 2) ASSERT_TRUE(preloaded.wait(20000));
    EXPECT_LE(loader.PreloadedBytes(), 400 * 400 * 4 + 1000);
    EXPECT_GT(loader.PreloadedBytes(), 0);

    QSignalSpy loaded(&loader, &CPictureLoader::Loaded);
    loader.Load(first);
    EXPECT_EQ(loaded.size(), 1) << "the picture named first is the one kept";
    loader.Load(second);
    if (loaded.size() == 1) {
        ASSERT_TRUE(loaded.wait(20000));
    }
    EXPECT_EQ(CornerOf(loaded.last()[1].value<CPictureLoader::Picture>()), qRgb(4, 5, 6));
}

TEST_F(PictureLoader, InAStretchModeTheScaledCopyIsMadeWithThePicture) {
    QImage stored(400, 100, QImage::Format_RGB32);
    stored.fill(qRgb(0, 90, 180));
    const QString wide = QString::fromStdString(dir.File("wide.png"));
    ASSERT_TRUE(stored.save(wide, "PNG"));
    CPictureLoader loader;
    QSignalSpy loaded(&loader, &CPictureLoader::Loaded);
    loader.SetFitSize(QSize(200, 200), DisplayMode::Proportional());
    loader.Load(wide);
    ASSERT_TRUE(loaded.wait(20000));
    const QImage scaled = loaded[0][2].value<QImage>();
    EXPECT_EQ(scaled.size(), QSize(200, 50)) << "proportionally fitted";
    EXPECT_EQ(scaled.pixel(100, 25), qRgb(0, 90, 180));

    loader.SetFitSize(QSize(200, 200), DisplayMode::Natural());
    loader.Forget();
    loader.Load(wide);
    ASSERT_TRUE(loaded.wait(20000));
    EXPECT_TRUE(loaded[1][2].value<QImage>().isNull()) << "natural size needs no copy";
}

TEST_F(PictureLoader, GoingAwayCancelsWhatRunsWithoutAnswering) {
    const QString slow = WriteSlowPng(dir.File("slow.png"), 2000);
    auto loader = std::make_unique<CPictureLoader>();
    QSignalSpy loaded(loader.get(), &CPictureLoader::Loaded);
    loader->Load(slow);
    loader->Preload({slow + QStringLiteral(".missing")});
    loader.reset();
    QApplication::processEvents();
    EXPECT_TRUE(loaded.isEmpty());
}

// The document on top of the loader: what the user sees and is told.
class DocumentLoading : public ::testing::Test {
protected:
    TempDir dir;
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
};

TEST_F(DocumentLoading, ASupersededFailureSaysNothingAndThePictureSwapsInWhole) {
    const QString first = WritePlain(dir.File("first.bmp"), 30, 20, qRgb(9, 9, 9));
    ASSERT_TRUE(OpenAndWait(document, first));
    const QImage before = document.Bitmap();
    const QString broken = QString::fromStdString(dir.File("broken.bmp"));
    WriteBytes(broken.toStdString(), {'B', 'M', 1, 2, 3});
    const QString second = WritePlain(dir.File("second.bmp"), 50, 40, qRgb(250, 250, 0));

    ASSERT_TRUE(document.OnOpenDocument(broken));
    // Until the next picture is ready, the one shown stays whole.
    EXPECT_EQ(document.Bitmap().size(), QSize(30, 20));
    EXPECT_TRUE(model.g_bImageLoaded);
    ASSERT_TRUE(OpenAndWait(document, second));
    QApplication::processEvents();
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(document.Bitmap().size(), QSize(50, 40));
    EXPECT_EQ(document.CurrentBitmap().Width(), 50);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(DocumentLoading, ASlowPictureShowsTheWaitCursorUntilItIsReady) {
    const QString slow = WriteSlowPng(dir.File("slow.png"), 2000);
    QSignalSpy finished(&document, &CTest11Doc::LoadFinished);
    ASSERT_TRUE(document.OnOpenDocument(slow));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "no wait cursor for a quick picture";
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(finished[0][0].toBool());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(document.Bitmap().size(), QSize(2000, 2000));
}

}  // namespace
