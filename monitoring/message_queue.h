#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "monitoring/monitor_feed.h"

namespace varnholt {

// Messages on their way to the broker. The test's thread only puts; past
// the limit the oldest go, counted.
class MessageQueue {
public:
    explicit MessageQueue(size_t limit = 10000) : limit_(limit) {}
    void Put(MonitorMessage message);
    // Waits up to the time given for a message; false when none came.
    bool Take(MonitorMessage& message, std::chrono::milliseconds wait);
    void PutBack(MonitorMessage message);  // at the front: it goes first
    uint64_t Dropped() const;
    void CountDropped();  // one taken that could not be sent at all
    size_t Size() const;
    void Wake();
    // Waits until the time given or until done() holds, looked at again on
    // every Put and Wake; done() must turn true before the Wake that tells.
    void WaitUntil(std::chrono::steady_clock::time_point until, const std::function<bool()>& done);

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<MonitorMessage> messages_;
    size_t limit_;
    uint64_t dropped_ = 0;
    bool woken_ = false;
};

}  // namespace varnholt
