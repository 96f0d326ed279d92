#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "monitoring/message_queue.h"
#include "monitoring/monitor_feed.h"
#include "settings/monitoring_settings.h"

namespace varnholt {

// The bench's link to an MQTT broker through libmosquitto, on a thread of its
// own: name resolution, connecting, TLS and sending never happen on the
// thread that runs the test. Reconnects with a backoff growing to 30 s;
// messages wait meanwhile and go out after, each once. The Last Will marks
// the bench offline when it dies.
class MqttLink {
public:
    // linkText gets one short line for the window ("Monitoring: connected to
    // broker.lab:8883"), from the link's thread.
    // queueLimit: messages held while the broker is away or slow; past it
    // the oldest go, counted.
    // heartbeat: the status goes out again after this long without one, so a
    // board tells a stuck bench from a quiet one.
    MqttLink(MonitoringSettings settings, std::string topic, MonitorFeed& feed,
             std::function<void(const std::string&)> linkText, size_t queueLimit = 10000,
             std::chrono::milliseconds heartbeat = std::chrono::seconds(60));
    ~MqttLink();  // publishes the offline status, waits a moment for it, disconnects

    MessageQueue& queue() { return queue_; }
    std::string Where() const;  // host:port

private:
    class Worker;  // the link's thread, in mqtt_link.cpp

    MonitoringSettings settings_;
    std::string topic_;
    MonitorFeed& feed_;
    std::function<void(const std::string&)> linkText_;
    MessageQueue queue_;
    std::chrono::milliseconds heartbeat_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace varnholt
