#include "ui/SyncCall.h"

#include <QThread>

namespace talmera::ui {

Mailbox::~Mailbox() { close(); }

bool Mailbox::call(std::function<void()> work) {
    if (QThread::currentThread() == thread()) {
        work();
        return true;
    }
    auto ticket = std::make_shared<Ticket>();
    ticket->work = std::move(work);
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return false;
    queue_.push_back(ticket);
    lock.unlock();
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
    lock.lock();
    condition_.wait(lock, [&] { return ticket->done; });
    return ticket->ran;
}

void Mailbox::post(std::function<void()> work) {
    auto ticket = std::make_shared<Ticket>();
    ticket->work = std::move(work);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        queue_.push_back(ticket);
    }
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void Mailbox::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (const auto& ticket : queue_) ticket->done = true;
    queue_.clear();
    condition_.notify_all();
}

void Mailbox::drain() {
    // One piece of work per wake-up, in order; a piece that opens a modal
    // dialog pumps events, and the next wake-up then runs the next piece.
    std::shared_ptr<Ticket> ticket;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return;
        ticket = queue_.front();
        queue_.pop_front();
    }
    if (ticket->work) ticket->work();
    std::lock_guard<std::mutex> lock(mutex_);
    ticket->done = true;
    ticket->ran = true;
    ticket->work = nullptr;
    condition_.notify_all();
}

}  // namespace talmera::ui
