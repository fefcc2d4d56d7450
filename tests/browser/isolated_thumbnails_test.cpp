// Thumbnails made by decoder helpers: a helper's crash or hang fails that file's thumbnail
// only, and a thumbnail already in the cache is shown without any helper.

#include "browser/thumbnail_cache.h"
#include "browser/thumbnail_workers.h"
#include "browser_test_support.h"
#include "isolation/decoder_pool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <map>

namespace {

using namespace std::chrono_literals;

struct Outcome {
    std::map<int, QImage> made;
    std::vector<int> failed;
};

// Builds the thumbnails of paths and collects what the workers report, within 30 s.
Outcome Build(const QStringList& paths) {
    CThumbnailWorkers workers(paths, QSize(100, 75), QColor(240, 240, 240), CThumbnailCache());
    Outcome outcome;
    QEventLoop loop;
    const auto finishWhenAllCame = [&] {
        if (static_cast<qsizetype>(outcome.made.size() + outcome.failed.size()) == paths.size()) loop.quit();
    };
    QObject::connect(&workers, &CThumbnailWorkers::Made, &loop, [&](int index, const QImage& thumbnail) {
        outcome.made[index] = thumbnail;
        finishWhenAllCame();
    }, Qt::QueuedConnection);
    QObject::connect(&workers, &CThumbnailWorkers::Failed, &loop, [&](int index) {
        outcome.failed.push_back(index);
        finishWhenAllCame();
    }, Qt::QueuedConnection);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    workers.Start(2);
    loop.exec();
    workers.Cancel();
    std::sort(outcome.failed.begin(), outcome.failed.end());
    return outcome;
}

std::shared_ptr<CDecoderPool> Helpers(const std::string& program = {}) {
    CDecoderPool::Options options = CDecoderPool::DefaultOptions();
    options.size = 2;
    options.helper.watchdog = 1500ms;
    if (!program.empty()) options.helper.program = program;
    return std::make_shared<CDecoderPool>(options);
}

}  // namespace

TEST(IsolatedThumbnails, FaultyHelpersFailTheirFilesOnlyAndTheCacheNeedsNoHelper) {
    ::setenv("VT_DECODER_TEST_FAULTS", "1", 1);
    TempDir dir;
    const QString folder = QString::fromStdString(dir.Path().string());
    const QStringList paths = {
        WritePicture(folder + "/big.bmp", 400, 300, Qt::red),
        WritePicture(folder + "/fault-crash.bmp", 400, 300, Qt::black),
        WritePicture(folder + "/fault-hang.bmp", 400, 300, Qt::black),
        WritePicture(folder + "/small.bmp", 40, 30, Qt::green),
    };
    CDecoderPool::SetShared(Helpers());
    Outcome first = Build(paths);
    EXPECT_EQ(first.failed, (std::vector<int>{1, 2}));
    ASSERT_EQ(first.made.size(), 2u);
    EXPECT_EQ(CentreColour(first.made[0]), QColor(Qt::red));
    EXPECT_EQ(CentreColour(first.made[3]), QColor(Qt::green));

    // No helper to be had: the big picture's thumbnail comes from the cache; the small one
    // was never cached (it is smaller than its cell) and now fails.
    CDecoderPool::SetShared(Helpers(dir.File("no-such-helper")));
    const Outcome second = Build({paths[0], paths[3]});
    ASSERT_EQ(second.made.size(), 1u);
    EXPECT_EQ(CentreColour(second.made.at(0)), QColor(Qt::red));
    EXPECT_EQ(second.failed, std::vector<int>{1});
    CDecoderPool::SetShared(nullptr);
    ::unsetenv("VT_DECODER_TEST_FAULTS");
}
