#include "platform/thread_hand_off.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QThread>

#include <algorithm>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace {

// Data made on one thread and read on another: under ThreadSanitizer these cases also fail when
// a hand-off is ordered only by Qt's own synchronisation, which it cannot see.
TEST(ThreadHandOff, WorkAndItsResultsCrossBothWaysWholeAndInOrder) {
    constexpr int kJobs = 6;
    constexpr int kPerJob = 20;
    std::vector<std::vector<int>> received(kJobs);
    std::vector<bool> onOwnThread;
    CThreadInbox inbox;
    // Declared last, so that its workers are done before what they post to goes away.
    QThreadPool pool;
    pool.setMaxThreadCount(3);
    for (int job = 0; job < kJobs; ++job) {
        std::vector<int> request(1000);
        std::iota(request.begin(), request.end(), job * 1000);
        StartOnPool(pool, [&inbox, &received, &onOwnThread, job, request = std::move(request)] {
            const bool onWorker = QThread::currentThread() != inbox.thread();
            for (int part = 0; part < kPerJob; ++part) {
                auto answer = std::make_shared<std::vector<int>>(request);
                for (int& value : *answer) value += part;
                inbox.Post([&inbox, &received, &onOwnThread, job, onWorker, answer] {
                    onOwnThread.push_back(onWorker && QThread::currentThread() == inbox.thread());
                    received[static_cast<size_t>(job)].push_back((*answer)[999] - (*answer)[0]);
                    received[static_cast<size_t>(job)].push_back((*answer)[0]);
                });
            }
        });
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return onOwnThread.size() == kJobs * kPerJob; }, 20000));
    EXPECT_EQ(std::count(onOwnThread.begin(), onOwnThread.end(), false), 0);
    for (int job = 0; job < kJobs; ++job) {
        std::vector<int> expected;
        for (int part = 0; part < kPerJob; ++part) expected.insert(expected.end(), {999, job * 1000 + part});
        EXPECT_EQ(received[static_cast<size_t>(job)], expected) << "job " << job;
    }
}

TEST(ThreadHandOff, CallsStillWaitingWhenDiscardedOrWhenTheInboxGoesAwayNeverRun) {
    auto ran = std::make_shared<int>(0);
    {
        CThreadInbox inbox;
        std::thread poster([&inbox, ran] {
            for (int i = 0; i < 50; ++i) inbox.Post([ran] { ++*ran; });
        });
        poster.join();
        inbox.DiscardPending();
        inbox.Post([ran] { *ran += 1000; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return *ran != 0; }, 20000));
        EXPECT_EQ(*ran, 1000);

        std::thread last([&inbox, ran] { inbox.Post([ran] { *ran += 1; }); });
        last.join();
    }
    // The inbox went away with one call waiting: it is dropped, and what it held with it.
    QCoreApplication::processEvents();
    EXPECT_EQ(*ran, 1000);
    EXPECT_EQ(ran.use_count(), 1);
}

}  // namespace
