#include "ui/SyncCall.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <cstdint>

namespace talmera::ui {

Mailbox::Mailbox(QObject* parent) : QObject(parent) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ >= 0) {
        notifier_ = new QSocketNotifier(qintptr(wakeFd_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Mailbox::drain);
    }
}

Mailbox::~Mailbox() {
    close();
    delete notifier_;
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void Mailbox::wake() {
    const uint64_t one = 1;
    // A full counter (never reached) would only mean a wake-up is pending.
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool Mailbox::call(std::function<void()> work) {
    if (QThread::currentThread() == thread()) {
        work();
        return true;
    }
    auto ticket = std::make_shared<Ticket>();
    ticket->work = std::move(work);
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_ || wakeFd_ < 0) return false;
    queue_.push_back(ticket);
    lock.unlock();
    wake();
    lock.lock();
    condition_.wait(lock, [&] { return ticket->done; });
    return ticket->ran;
}

void Mailbox::post(std::function<void()> work) {
    auto ticket = std::make_shared<Ticket>();
    ticket->work = std::move(work);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_ || wakeFd_ < 0) return;
        queue_.push_back(ticket);
    }
    wake();
}

void Mailbox::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (const auto& ticket : queue_) ticket->done = true;
    queue_.clear();
    condition_.notify_all();
}

void Mailbox::hold() { ++holds_; }

void Mailbox::release() {
    if (holds_ > 0 && --holds_ == 0) wake();
}

void Mailbox::drain() {
    uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    // Held: the work stays queued until the release wakes this again.
    if (holds_ > 0) return;
    // Everything queued runs, in order. A piece of work that opens a modal
    // box runs a nested event loop, which may drain further pieces first:
    // they are taken from the queue one by one, so the order holds.
    while (true) {
        std::shared_ptr<Ticket> ticket;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) return;
            ticket = queue_.front();
            queue_.pop_front();
        }
        if (ticket->work) ticket->work();
        if (holds_ > 0) {
            // Held by the work itself (a question it asked): what follows waits.
            std::lock_guard<std::mutex> lock(mutex_);
            ticket->done = true;
            ticket->ran = true;
            ticket->work = nullptr;
            condition_.notify_all();
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ticket->done = true;
        ticket->ran = true;
        ticket->work = nullptr;
        condition_.notify_all();
    }
}

}  // namespace talmera::ui
