#include "platform/thread_hand_off.h"

#include <QCoreApplication>
#include <QEvent>
#include <QRunnable>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Everything this thread wrote before MarkReleased(object) happens before whatever another
// thread does after MarkAcquired(object): what Qt's own synchronisation guarantees there.
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

QEvent::Type CallEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class CCallEvent final : public QEvent {
public:
    explicit CCallEvent(std::function<void()> call) : QEvent(CallEventType()), call_(std::move(call)) {}
    // Run or not, the event is deleted on the inbox's thread.
    ~CCallEvent() override { MarkAcquired(this); }

    void Run() { call_(); }

private:
    std::function<void()> call_;
};

}  // namespace

void StartOnPool(QThreadPool& pool, std::function<void()> job, int priority) {
    auto* runnable = new CPoolJob(std::move(job));
    MarkReleased(runnable);
    pool.start(runnable, priority);
}

void CThreadInbox::Post(std::function<void()> call) {
    auto* event = new CCallEvent(std::move(call));
    MarkReleased(event);
    QCoreApplication::postEvent(this, event);
}

void CThreadInbox::DiscardPending() { QCoreApplication::removePostedEvents(this, CallEventType()); }

void CThreadInbox::customEvent(QEvent* event) {
    // Even its type was written by the posting thread.
    MarkAcquired(event);
    if (event->type() == CallEventType())
        static_cast<CCallEvent*>(event)->Run();
    else
        QObject::customEvent(event);
}
