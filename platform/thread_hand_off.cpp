#include "platform/thread_hand_off.h"

#include <QRunnable>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Everything this thread wrote before MarkReleased(object) happens before whatever another
// thread does after MarkAcquired(object): what the pool's own synchronisation guarantees.
void MarkReleased(const void* object) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(object));
#else
    static_cast<void>(object);
#endif
}

void MarkAcquired(const void* object) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(object));
#else
    static_cast<void>(object);
#endif
}

class CPoolJob final : public QRunnable {
public:
    explicit CPoolJob(std::function<void()> job) : job_(std::move(job)) {}

    // The pool deletes the job on the thread that ran it, after this.
    void run() override {
        MarkAcquired(this);
        job_();
    }

private:
    std::function<void()> job_;
};

}  // namespace

void StartOnPool(QThreadPool& pool, std::function<void()> job, int priority) {
    auto* runnable = new CPoolJob(std::move(job));
    MarkReleased(runnable);
    pool.start(runnable, priority);
}

// The calls are dropped under the lock too: the owner waits for its workers through Qt, which
// a sanitized build cannot see, and the lock shows that the last poster is done with the queue.
CThreadInbox::~CThreadInbox() { DiscardPending(); }

void CThreadInbox::Post(std::function<void()> call) {
    // The wake-up is posted under the lock as well, so that the destructor's lock shows this
    // thread done with the inbox. By name: Qt makes and frees the event, which holds nothing of
    // ours.
    const std::lock_guard lock(mutex_);
    pending_.push_back(std::move(call));
    QMetaObject::invokeMethod(this, "RunNext", Qt::QueuedConnection);
}

void CThreadInbox::DiscardPending() {
    std::deque<std::function<void()>> dropped;
    const std::lock_guard lock(mutex_);
    dropped.swap(pending_);
}

void CThreadInbox::RunNext() {
    std::function<void()> call;
    {
        const std::lock_guard lock(mutex_);
        // Discarded since its wake-up was posted.
        if (pending_.empty()) return;
        call = std::move(pending_.front());
        pending_.pop_front();
    }
    call();
}
