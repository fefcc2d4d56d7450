// A picture larger than the whole preload budget, beside the one shown: decoded ahead once,
// let go, and not decoded again on every step next to it until its file changes.

#include "support/test_files.h"
#include "viewer/picture_loader.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>

namespace {

TEST(PictureLoaderOversized, APreloadLargerThanTheBudgetIsNotDecodedAheadAgainUntilItChanges) {
    TempDir dir;
    const std::string big = dir.File("big.bmp");
    WriteBmp32(big, 300, 300, [](int, int) { return qRgb(9, 8, 7); });
    const QString path = QString::fromStdString(big);
    CPictureLoader loader(1000);
    QSignalSpy preloaded(&loader, &CPictureLoader::Preloaded);
    loader.Preload({path});
    ASSERT_TRUE(preloaded.wait(20000));
    EXPECT_EQ(loader.PreloadedBytes(), 0) << "let go at once";

    // The neighbours named again after a step: no decode starts (one would answer in
    // milliseconds).
    loader.Preload({});
    loader.Preload({path});
    EXPECT_FALSE(preloaded.wait(1500));
    EXPECT_EQ(preloaded.size(), 1);

    // Asked for, it is decoded; changed on disk, it may be decoded ahead again.
    QSignalSpy loaded(&loader, &CPictureLoader::Loaded);
    loader.Load(path);
    ASSERT_TRUE(loaded.wait(20000));
    EXPECT_EQ(loaded.last()[3].toInt(), 0);
    WriteBmp32(big, 301, 300, [](int, int) { return qRgb(9, 8, 7); });
    loader.Load(QString::fromStdString(dir.File("other.bmp")));
    ASSERT_TRUE(loaded.wait(20000));
    loader.Preload({path});
    EXPECT_TRUE(preloaded.wait(20000));
}

}  // namespace
