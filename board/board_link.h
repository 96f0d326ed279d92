#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "settings/monitoring_settings.h"

namespace varnholt {

// The board's subscription to the lab's broker, on a thread of its own, with
// the bench's reconnect backoff (1 s growing to 30 s) and its words for what
// went wrong. Each message goes to take as it arrives.
class BoardLink {
public:
    using Take = std::function<void(const std::string& topic, std::string_view payload)>;
    BoardLink(MonitoringSettings settings, std::string topicFilter, Take take);
    ~BoardLink();  // within about 100 ms

private:
    void Run();
    MonitoringSettings settings_;
    std::string filter_;
    Take take_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace varnholt
