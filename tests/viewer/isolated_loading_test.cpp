// The document's pictures come from decoder helpers: one that crashes, hangs or runs out of
// memory on a file fails that file as any damaged file fails, and the next file shows.

#include "browser/viewer_model.h"
#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
#include "support/test_files.h"
#include "viewer/picture_loader.h"
#include "viewer/test11_doc.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cstdlib>

namespace {

using namespace std::chrono_literals;

// Helpers of the program's pool that act on the test switch's file names and have a short
// watchdog; the program's own pool comes back afterwards.
class FaultyHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("VT_DECODER_TEST_FAULTS", "1", 1);
        CDecoderPool::Options options = CDecoderPool::DefaultOptions();
        options.size = 2;
        options.helper.watchdog = 1500ms;
        options.helper.storageLimit = uint64_t{256} << 20;
        pool = std::make_shared<CDecoderPool>(options);
        CDecoderPool::SetShared(pool);
    }
    void TearDown() override {
        CDecoderPool::SetShared(nullptr);
        ::unsetenv("VT_DECODER_TEST_FAULTS");
    }

    QString Write(const std::string& name, QRgb colour) {
        WriteBmp32(dir.File(name), 40, 30, [colour](int, int) { return colour; });
        return QString::fromStdString(dir.File(name));
    }

    TempDir dir;
    std::shared_ptr<CDecoderPool> pool;
};

TEST_F(FaultyHelpers, TheLoaderFailsOnlyTheFaultyFiles) {
    struct Case {
        QString path;
        int code;  // 0: the picture shows, in colour
        QRgb colour;
    };
    const std::vector<Case> cases = {
        {Write("a.bmp", qRgb(200, 0, 0)), 0, qRgb(200, 0, 0)},
        {Write("fault-crash.bmp", qRgb(1, 1, 1)), ERR_BAD_DATA, 0},
        {Write("b.bmp", qRgb(0, 200, 0)), 0, qRgb(0, 200, 0)},
        {Write("fault-hang.bmp", qRgb(1, 1, 1)), ERR_BAD_DATA, 0},
#ifndef VT_SANITIZED_BUILD
        {Write("fault-hog.bmp", qRgb(1, 1, 1)), ERR_OUT_OF_MEMORY, 0},
#endif
        {Write("c.bmp", qRgb(0, 0, 200)), 0, qRgb(0, 0, 200)},
    };
    CPictureLoader loader;
    QSignalSpy loaded(&loader, &CPictureLoader::Loaded);
    int deaths = 0;
    for (const Case& file : cases) {
        SCOPED_TRACE(file.path.toStdString());
        const qsizetype before = loaded.size();
        loader.Load(file.path);
        if (loaded.size() == before) {
            ASSERT_TRUE(loaded.wait(20000));
        }
        const QList<QVariant>& answer = loaded.back();
        ASSERT_EQ(answer[0].toString(), file.path);
        const auto picture = answer[1].value<CPictureLoader::Picture>();
        EXPECT_EQ(answer[3].toInt(), file.code) << answer[4].toString().toStdString();
        if (file.code == 0) {
            ASSERT_TRUE(picture);
            const BGRA pixel = picture->PixelLine(29)[39];
            EXPECT_EQ(qRgba(pixel.r, pixel.g, pixel.b, pixel.a), file.colour);
        } else {
            EXPECT_FALSE(picture);
            EXPECT_TRUE(answer[4].toString().contains(file.path)) << answer[4].toString().toStdString();
            if (file.code == ERR_BAD_DATA) ++deaths;
        }
    }
    // One decode at a time needs one helper; each that died was replaced, nothing more.
    EXPECT_EQ(pool->HelpersStarted(), 1 + deaths);
}

TEST_F(FaultyHelpers, TheDocumentSaysInvalidDataAndShowsTheNextFile) {
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
    const QString crashing = Write("fault-crash.bmp", qRgb(1, 1, 1));
    ASSERT_TRUE(OpenAndWait(document, crashing));
    EXPECT_FALSE(model.g_bImageLoaded);
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("This file has invalid data.\n") + crashing});
    ASSERT_TRUE(OpenAndWait(document, Write("next.bmp", qRgb(9, 90, 190))));
    EXPECT_TRUE(model.g_bImageLoaded);
    EXPECT_EQ(document.Bitmap().pixel(3, 3), qRgb(9, 90, 190));
    EXPECT_EQ(seam.messages.size(), 1);
}

}  // namespace
