#pragma once

#include <QObject>
#include <QThreadPool>

#include <functional>

// Work handed to another thread through Qt, in a form ThreadSanitizer can follow.
//
// Qt's thread pool and its event queues order memory between threads with futexes and atomics
// inside Qt's own libraries, which are not built with ThreadSanitizer: it cannot see that
// ordering and reports every object handed over through them as a race. These helpers build
// the whole object Qt carries before Qt is given it, mark the release there, and mark the
// acquire where the receiving thread first touches it, so a sanitized build checks our own
// accesses and nothing else. Outside such a build the marks are empty.

// Runs job on one of pool's threads; waiting jobs of higher priority go first.
void StartOnPool(QThreadPool& pool, std::function<void()> job, int priority = 0);

// Runs calls on the thread this object lives on, from its event loop, in the order they were
// posted. Any thread may post; calls still waiting when the inbox is destroyed or
// DiscardPending is called are dropped without running.
class CThreadInbox : public QObject {
public:
    using QObject::QObject;

    void Post(std::function<void()> call);
    void DiscardPending();

protected:
    void customEvent(QEvent* event) override;
};
