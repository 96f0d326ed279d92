#include "monitoring/mqtt_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>

#include "monitoring/error_text.h"
#include "monitoring/mqtt_client.h"
#include "monitoring/notifier.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 15;  // a dead bench reads offline within about 25 s
constexpr auto kShortestBackoff = std::chrono::milliseconds(1s);
constexpr auto kLongestBackoff = std::chrono::milliseconds(30s);
// A broker that takes longer to answer a connection is taken as not there.
constexpr auto kConnackWait = 10s;
// Short enough that the program ends within a second of SIGTERM.
constexpr auto kGoodbyeWait = 600ms;
// QoS 1 messages handed to libmosquitto and not yet acknowledged: the rest
// wait in our bounded queue, so the bound and the dropped count are real.
// These are also the most that can arrive twice after a broker loss.
constexpr int kInFlight = 20;

struct Session {
    bool connackSeen = false;
    int connack = -1;
    int unacknowledged = 0;
};

void OnConnect(mosquitto*, void* user, int rc) {
    auto* session = static_cast<Session*>(user);
    session->connackSeen = true;
    session->connack = rc;
}

void OnPublish(mosquitto*, void* user, int) {
    auto* session = static_cast<Session*>(user);
    if (session->unacknowledged > 0) --session->unacknowledged;
}

// A message the library refuses by its content: sending it again can never
// succeed, and reconnecting for it would only storm the broker.
bool Unsendable(int rc) {
    return rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_INVAL ||
           rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
}

}  // namespace

// The link's thread: one handle, its session and what the operator was told.
class MqttLink::Worker {
public:
    explicit Worker(MqttLink& link)
        : link_(link),
          handle_(&session_),
          where_(link.Where()),
          credentialsGiven_(!link.settings_.user.empty()) {}

    void Run() {
        if (!Configure()) return;
        bool connected = false;
        while (!link_.stopping_) {
            connected = connected ? Pump() : Connect();
        }
        if (connected) Goodbye();
    }

private:
    // The handle's options, each call's result said: a link that could only
    // run without its TLS or its Last Will does not run at all.
    bool Configure() {
        mosquitto* mosq = handle_.get();
        if (!mosq) return Fail(handle_.Failure());
        KeepFromChildren();  // its socket pair
        std::string failure;
        if (!ConfigureClient(mosq, link_.settings_, failure)) return Fail(failure);
        mosquitto_connect_callback_set(mosq, OnConnect);
        mosquitto_publish_callback_set(mosq, OnPublish);
        int rc = mosquitto_max_inflight_messages_set(mosq, kInFlight);
        if (rc != MOSQ_ERR_SUCCESS) return Fail("the in-flight limit was refused", rc);
        const std::string statusTopic = link_.topic_ + "/status";
        const std::string offline = link_.feed_.OfflinePayload();
        rc = mosquitto_will_set(mosq, statusTopic.c_str(), static_cast<int>(offline.size()),
                                offline.data(), 1, true);
        if (rc != MOSQ_ERR_SUCCESS) return Fail("the Last Will was refused (MqttTopic)", rc);
        return true;
    }

    // One attempt; true when the broker accepted it.
    bool Connect() {
        mosquitto* mosq = handle_.get();
        const int unacknowledged = session_.unacknowledged;
        session_ = Session{};
        // Resent by the library on the new connection.
        session_.unacknowledged = unacknowledged;
        // Without blocking: a broker whose packets are dropped must not hold
        // the thread (nor the program's end) for the kernel's retries.
        int rc = mosquitto_connect_async(mosq, link_.settings_.host.c_str(), link_.settings_.port,
                                         kKeepAliveSeconds);
        KeepFromChildren();  // the new connection's socket
        const auto deadline = Clock::now() + kConnackWait;
        while (rc == MOSQ_ERR_SUCCESS && !session_.connackSeen && !link_.stopping_ &&
               Clock::now() < deadline) {
            rc = mosquitto_loop(mosq, 100, 1);
        }
        if (rc == MOSQ_ERR_SUCCESS && session_.connackSeen && session_.connack == 0) {
            connectedAt_ = Clock::now();
            Tell("Monitoring: connected to " + where_,
                 "Monitoring: connected to the MQTT broker " + where_ + ".");
            Publish({"status", link_.feed_.StatusPayload(link_.queue_.Dropped()), true});
            return true;
        }
        if (link_.stopping_) return false;
        const bool silent = rc == MOSQ_ERR_SUCCESS && !session_.connackSeen;
        const std::string reason =
            silent ? "no answer from " + where_ + " in 10 s"
                   : ConnectionReason(rc, session_.connack, credentialsGiven_, where_);
        mosquitto_disconnect(mosq);  // whatever it returns, the next attempt starts afresh
        Tell("Monitoring: not connected (" + reason + "), retrying",
             "Monitoring: cannot publish to the MQTT broker " + where_ + ": " + reason +
                 "; check [Monitoring] in kestrane.ini and the broker. Retrying.");
        BackOff();
        return false;
    }

    // Hands queued messages to the library and lets it work for up to
    // 100 ms; false when the connection is gone.
    bool Pump() {
        // A connection that held for a while starts the backoff afresh, and
        // causes are worth telling again.
        if (Clock::now() - connectedAt_ > kLongestBackoff) {
            backoff_ = kShortestBackoff;
            told_.clear();
        }
        MonitorMessage message;
        int rc = MOSQ_ERR_SUCCESS;
        while (rc == MOSQ_ERR_SUCCESS && session_.unacknowledged < kInFlight &&
               link_.queue_.Take(message, 0ms)) {
            rc = Publish(message);
            if (Unsendable(rc)) {
                link_.queue_.CountDropped();
                const std::string why = mosquitto_strerror(rc);
                Tell("Monitoring: a message could not be sent (" + why + ")",
                     "Monitoring: a message to the MQTT broker " + where_ +
                         " was refused by the library (" + why + ") and dropped.");
                rc = MOSQ_ERR_SUCCESS;
            } else if (rc != MOSQ_ERR_SUCCESS) {
                link_.queue_.PutBack(std::move(message));
            }
        }
        if (rc == MOSQ_ERR_SUCCESS && Clock::now() - lastStatus_ >= link_.heartbeat_) {
            rc = Publish({"status", link_.feed_.StatusPayload(link_.queue_.Dropped()), true});
        }
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(handle_.get(), 100, 1);
        if (rc == MOSQ_ERR_SUCCESS) return true;
        const std::string reason = ConnectionReason(rc, -1, credentialsGiven_, where_);
        mosquitto_disconnect(handle_.get());  // already lost; nothing to add
        Tell("Monitoring: not connected (" + reason + "), retrying",
             "Monitoring: lost the MQTT broker " + where_ + ": " + reason + ". Retrying.");
        BackOff();
        return false;
    }

    // Every way back to the broker waits out the backoff first. The queue's
    // wake-up (a new message, or the program's end on SIGTERM) looks again;
    // only the end cuts the wait short, since a message per row would
    // otherwise turn an outage into a connection per row.
    void BackOff() {
        link_.queue_.WaitUntil(Clock::now() + backoff_, [this] { return link_.stopping_.load(); });
        backoff_ = std::min(backoff_ * 2, kLongestBackoff);
    }

    // What the run's end said goes out first; then a clean end marks the
    // bench offline as its Last Will would.
    void Goodbye() {
        mosquitto* mosq = handle_.get();
        MonitorMessage message;
        while (link_.queue_.Take(message, 0ms)) Publish(message);
        Publish({"status", link_.feed_.OfflinePayload(), true});
        const auto until = Clock::now() + kGoodbyeWait;
        while (mosquitto_want_write(mosq) && Clock::now() < until) {
            if (mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS) return;
        }
        if (mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS) return;
        if (mosquitto_disconnect(mosq) == MOSQ_ERR_SUCCESS) mosquitto_loop(mosq, 50, 1);
    }

    int Publish(const MonitorMessage& m) {
        const std::string topic = link_.topic_ + "/" + m.subtopic;
        const int rc =
            mosquitto_publish(handle_.get(), nullptr, topic.c_str(),
                              static_cast<int>(m.payload.size()), m.payload.data(), 1, m.retain);
        if (rc == MOSQ_ERR_SUCCESS) {
            ++session_.unacknowledged;
            if (m.subtopic == "status") lastStatus_ = Clock::now();
        }
        return rc;
    }

    bool Fail(const std::string& what, int rc) {
        return Fail(what + " (" + mosquitto_strerror(rc) + ")");
    }
    bool Fail(const std::string& what) {
        Tell("Monitoring: off (" + what + ")",
             "Monitoring: cannot publish to the MQTT broker " + where_ + ": " + what +
                 "; check [Monitoring] in kestrane.ini. The test runs without monitoring.");
        return false;
    }

    // Each cause is told once on standard error until a connection holds
    // for a while; the window's line follows every change.
    void Tell(const std::string& line, const std::string& sentence) {
        if (line != shown_) {
            shown_ = line;
            if (link_.linkText_) link_.linkText_(line);
        }
        if (told_.insert(sentence).second) std::fprintf(stderr, "varnholt: %s\n", sentence.c_str());
    }

    MqttLink& link_;
    Session session_;  // before the handle: its callbacks point here
    MosquittoHandle handle_;
    const std::string where_;
    const bool credentialsGiven_;
    std::chrono::milliseconds backoff_ = kShortestBackoff;
    Clock::time_point connectedAt_ = Clock::now();
    Clock::time_point lastStatus_ = Clock::now();
    std::string shown_;
    std::set<std::string> told_;
};

MqttLink::MqttLink(MonitoringSettings settings, std::string topic, MonitorFeed& feed,
                   std::function<void(const std::string&)> linkText, size_t queueLimit,
                   std::chrono::milliseconds heartbeat)
    : settings_(std::move(settings)),
      topic_(std::move(topic)),
      feed_(feed),
      linkText_(std::move(linkText)),
      queue_(queueLimit),
      heartbeat_(heartbeat) {
    feed_.dropped = [this] { return queue_.Dropped(); };
    thread_ = std::thread([this] { Worker(*this).Run(); });
}

MqttLink::~MqttLink() {
    stopping_ = true;
    queue_.Wake();
    if (thread_.joinable()) thread_.join();
}

std::string MqttLink::Where() const {
    return settings_.host + ":" + std::to_string(settings_.port);
}

}  // namespace varnholt
