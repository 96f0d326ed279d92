#include "monitoring/mqtt_link.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

#include "monitoring/notifier.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;

constexpr int kKeepAliveSeconds = 15;  // a dead bench reads offline within about 25 s
constexpr auto kLongestBackoff = 30s;
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

// Why a connection failed, in the operator's words.
std::string Reason(int rc, int connack, bool credentialsGiven) {
    if (connack > 0) {
        // Mosquitto answers a wrong password with "not authorised" (5).
        if (connack == 4 || (connack == 5 && credentialsGiven))
            return "user name or password refused";
        if (connack == 5)
            return "not authorised: the broker wants a user name and password (MqttCredentials)";
        return mosquitto_connack_string(connack);
    }
    switch (rc) {
        case MOSQ_ERR_TLS:
            return "certificate not trusted, or TLS refused";
        case MOSQ_ERR_EAI:
            return "the host name is not known";
        case MOSQ_ERR_CONN_REFUSED:
            return "connection refused";
        case MOSQ_ERR_NO_CONN:
        case MOSQ_ERR_CONN_LOST:
            return "the connection was lost";
        case MOSQ_ERR_KEEPALIVE:
            return "no answer";
        case MOSQ_ERR_ERRNO: {
            const int error = errno;
            if (error == ECONNREFUSED) return "no answer: connection refused";
            if (error == ETIMEDOUT || error == EHOSTUNREACH) return "no answer";
            return std::strerror(error);
        }
        default:
            return mosquitto_strerror(rc);
    }
}

}  // namespace

MqttLink::MqttLink(MonitoringSettings settings, std::string topic, MonitorFeed& feed,
                   std::function<void(const std::string&)> linkText, size_t queueLimit)
    : settings_(std::move(settings)),
      topic_(std::move(topic)),
      feed_(feed),
      linkText_(std::move(linkText)),
      queue_(queueLimit) {
    feed_.dropped = [this] { return queue_.Dropped(); };
    thread_ = std::thread([this] { Run(); });
}

MqttLink::~MqttLink() {
    stopping_ = true;
    queue_.Wake();
    if (thread_.joinable()) thread_.join();
}

std::string MqttLink::Where() const {
    return settings_.host + ":" + std::to_string(settings_.port);
}

void MqttLink::Run() {
    mosquitto_lib_init();
    Session session;
    mosquitto* mosq = mosquitto_new(nullptr, true, &session);
    KeepFromChildren();  // its socket pair
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, OnConnect);
    mosquitto_publish_callback_set(mosq, OnPublish);
    mosquitto_max_inflight_messages_set(mosq, kInFlight);
    const std::string statusTopic = topic_ + "/status";
    const std::string offline = MonitorFeed::OfflinePayload();
    mosquitto_will_set(mosq, statusTopic.c_str(), static_cast<int>(offline.size()), offline.data(),
                       1, true);
    if (!settings_.user.empty()) {
        mosquitto_username_pw_set(mosq, settings_.user.c_str(), settings_.password.c_str());
    }
    if (!settings_.caFile.empty()) {
        mosquitto_tls_set(mosq, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_tls_opts_set(mosq, 1, nullptr, nullptr);  // verify the broker's certificate
    }

    // Each cause is told once on standard error until a connection holds
    // for a while; the window's line follows every change.
    std::string shown;
    std::set<std::string> told;
    const auto tell = [&](const std::string& line, const std::string& sentence) {
        if (line != shown) {
            shown = line;
            if (linkText_) linkText_(line);
        }
        if (told.insert(sentence).second) std::fprintf(stderr, "varnholt: %s\n", sentence.c_str());
    };
    const std::string where = Where();
    auto backoff = 1s;
    bool connected = false;
    auto connectedAt = std::chrono::steady_clock::now();
    const auto publish = [&](const MonitorMessage& m) {
        const std::string topic = topic_ + "/" + m.subtopic;
        const int rc =
            mosquitto_publish(mosq, nullptr, topic.c_str(), static_cast<int>(m.payload.size()),
                              m.payload.data(), 1, m.retain);
        if (rc == MOSQ_ERR_SUCCESS) ++session.unacknowledged;
        return rc;
    };
    // Every way back to the broker waits out the backoff first; only the
    // end of the program interrupts it.
    const auto wait = [&] {
        const auto until = std::chrono::steady_clock::now() + backoff;
        while (!stopping_ && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(50ms);
        }
        backoff = std::min(backoff * 2,
                           std::chrono::duration_cast<std::chrono::seconds>(kLongestBackoff));
    };

    while (!stopping_) {
        if (!connected) {
            const int unacknowledged = session.unacknowledged;
            session = Session{};
            // Resent by the library on the new connection.
            session.unacknowledged = unacknowledged;
            // Without blocking: a broker whose packets are dropped must not
            // hold the thread (nor the program's end) for the kernel's retries.
            int rc = mosquitto_connect_async(mosq, settings_.host.c_str(), settings_.port,
                                             kKeepAliveSeconds);
            KeepFromChildren();  // the new connection's socket
            const auto deadline = std::chrono::steady_clock::now() + kConnackWait;
            while (rc == MOSQ_ERR_SUCCESS && !session.connackSeen && !stopping_ &&
                   std::chrono::steady_clock::now() < deadline) {
                rc = mosquitto_loop(mosq, 100, 1);
            }
            if (rc == MOSQ_ERR_SUCCESS && session.connackSeen && session.connack == 0) {
                connected = true;
                connectedAt = std::chrono::steady_clock::now();
                tell("Monitoring: connected to " + where,
                     "Monitoring: connected to the MQTT broker " + where + ".");
                publish({"status", feed_.StatusPayload(queue_.Dropped()), true});
                continue;
            }
            if (stopping_) break;
            const bool silent = rc == MOSQ_ERR_SUCCESS && !session.connackSeen;
            const std::string reason = silent
                                           ? "no answer from " + where + " in 10 s"
                                           : Reason(rc, session.connack, !settings_.user.empty());
            mosquitto_disconnect(mosq);
            tell("Monitoring: not connected (" + reason + "), retrying",
                 "Monitoring: cannot publish to the MQTT broker " + where + ": " + reason +
                     "; check [Monitoring] in kestrane.ini and the broker. Retrying.");
            wait();
            continue;
        }
        // A connection that held for a while starts the backoff afresh, and
        // causes are worth telling again.
        if (std::chrono::steady_clock::now() - connectedAt > kLongestBackoff) {
            backoff = 1s;
            told.clear();
        }
        MonitorMessage message;
        int rc = MOSQ_ERR_SUCCESS;
        while (rc == MOSQ_ERR_SUCCESS && session.unacknowledged < kInFlight &&
               queue_.Take(message, 0ms)) {
            rc = publish(message);
            if (Unsendable(rc)) {
                queue_.CountDropped();
                tell("Monitoring: a message could not be sent (" +
                         std::string(mosquitto_strerror(rc)) + ")",
                     "Monitoring: a message to the MQTT broker " + where +
                         " was refused by the "
                         "library (" +
                         mosquitto_strerror(rc) + ") and dropped.");
                rc = MOSQ_ERR_SUCCESS;
            } else if (rc != MOSQ_ERR_SUCCESS) {
                queue_.PutBack(std::move(message));
            }
        }
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(mosq, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            connected = false;
            const std::string reason = Reason(rc, -1, !settings_.user.empty());
            mosquitto_disconnect(mosq);
            tell("Monitoring: not connected (" + reason + "), retrying",
                 "Monitoring: lost the MQTT broker " + where + ": " + reason + ". Retrying.");
            wait();
        }
    }
    if (connected) {
        // What the run's end said goes out first; then a clean end marks the
        // bench offline as its Last Will would.
        MonitorMessage message;
        while (queue_.Take(message, 0ms)) publish(message);
        publish({"status", offline, true});
        const auto until = std::chrono::steady_clock::now() + kGoodbyeWait;
        while (mosquitto_want_write(mosq) && std::chrono::steady_clock::now() < until) {
            if (mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS) break;
        }
        mosquitto_loop(mosq, 50, 1);
        mosquitto_disconnect(mosq);
        mosquitto_loop(mosq, 50, 1);
    }
    mosquitto_destroy(mosq);
    mosquitto_lib_cleanup();
}

}  // namespace varnholt
