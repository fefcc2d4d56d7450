#pragma once

#include <QObject>
#include <QThreadPool>

#include <deque>
#include <functional>
#include <mutex>

// Work handed to another thread through Qt, in a form ThreadSanitizer can follow.
//
// Qt's thread pool and its event queues order memory between threads with futexes and atomics
// inside Qt's own libraries, which are not built with ThreadSanitizer: it cannot see that
// ordering and reports every object handed over through them as a race. So nothing of ours
// travels through Qt's synchronisation unmarked: a job is built whole before the pool is given
// it, with the release marked there and the acquire where the pool thread starts it; a call
// for another thread waits in a queue under a lock of our own, and Qt only carries a wake-up
// that holds nothing. Outside a sanitized build the marks are empty.

// Runs job on one of pool's threads; waiting jobs of higher priority go first.
void StartOnPool(QThreadPool& pool, std::function<void()> job, int priority = 0);

// Runs calls on the thread this object lives on, one per pass of its event loop, in the order
// they were posted. Any thread may post; calls still waiting when the inbox is destroyed or
// DiscardPending is called are dropped without running.
class CThreadInbox : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~CThreadInbox() override;

    void Post(std::function<void()> call);
    void DiscardPending();

private:
    Q_INVOKABLE void RunNext();

    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;  // guarded by mutex_
};
