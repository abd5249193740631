// Hands work from a worker thread to a window's thread: `call` waits until the
// work has run there (a synchronous send), `post` does not (a posted message).
//
// The work travels through a queue under a standard mutex, and the window's
// thread is woken through an event counter (eventfd) that its event loop
// watches. Nothing crosses the threads through Qt's event queue, so what the
// worker wrote before a call is visible to the window and what the window wrote
// is visible to the worker afterwards, also as the thread sanitizer sees it
// (Qt's own locks are invisible to it).
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace talmera::ui {

class Mailbox : public QObject {
    Q_OBJECT
public:
    explicit Mailbox(QObject* parent = nullptr);
    ~Mailbox() override;

    // Runs `work` on this object's thread: at once when the caller is that
    // thread, else queued, blocking until it has run. Returns false when the
    // mailbox was closed before the work ran.
    bool call(std::function<void()> work);
    // Queues `work` for this object's thread and returns at once.
    void post(std::function<void()> work);
    // Runs nothing more: waiting callers are released (their work is dropped).
    void close();
    // While held (as often as released), queued work waits and its callers
    // stay blocked; the last release runs it.
    void hold();
    void release();

private:
    void wake();
    void drain();

    struct Ticket {
        std::function<void()> work;
        bool done = false;
        bool ran = false;
    };
    std::mutex mutex_;
    std::condition_variable condition_;
    std::deque<std::shared_ptr<Ticket>> queue_;
    bool closed_ = false;
    int holds_ = 0;
    int wakeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace talmera::ui
