#include "monitoring/message_queue.h"

#include <utility>

namespace varnholt {

void MessageQueue::Put(MonitorMessage message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (messages_.size() >= limit_) {
            messages_.pop_front();
            ++dropped_;
        }
        messages_.push_back(std::move(message));
    }
    ready_.notify_one();
}

void MessageQueue::PutBack(MonitorMessage message) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_front(std::move(message));
    if (messages_.size() > limit_) {
        messages_.pop_back();
        ++dropped_;
    }
}

bool MessageQueue::Take(MonitorMessage& message, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (messages_.empty() && wait.count() > 0) {
        ready_.wait_for(lock, wait, [this] { return !messages_.empty() || woken_; });
    }
    woken_ = false;
    if (messages_.empty()) return false;
    message = std::move(messages_.front());
    messages_.pop_front();
    return true;
}

uint64_t MessageQueue::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

size_t MessageQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

void MessageQueue::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    ready_.notify_all();
}

void MessageQueue::WaitUntil(std::chrono::steady_clock::time_point until,
                             const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_until(lock, until, done);
}

void MessageQueue::CountDropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++dropped_;
}

}  // namespace varnholt
