#include "monitoring/mqtt_link.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace varnholt {
namespace {

using namespace std::chrono_literals;

constexpr int kKeepAliveSeconds = 15;  // a dead bench reads offline within about 25 s
constexpr auto kLongestBackoff = 30s;
constexpr auto kConnackWait = 10s;
constexpr auto kGoodbyeWait = 2s;

struct Session {
    bool connackSeen = false;
    int connack = -1;
};

void OnConnect(mosquitto*, void* user, int rc) {
    auto* session = static_cast<Session*>(user);
    session->connackSeen = true;
    session->connack = rc;
}

// Why a connection failed, in the operator's words.
std::string Reason(int rc, int connack, bool credentialsGiven) {
    if (connack > 0) {
        // Mosquitto answers a wrong password with "not authorised" (5).
        if (connack == 4 || (connack == 5 && credentialsGiven)) return "user name or password refused";
        if (connack == 5) return "not authorised: the broker wants a user name and password (MqttCredentials)";
        return mosquitto_connack_string(connack);
    }
    switch (rc) {
        case MOSQ_ERR_TLS: return "certificate not trusted, or TLS refused";
        case MOSQ_ERR_EAI: return "the host name is not known";
        case MOSQ_ERR_CONN_REFUSED: return "connection refused";
        case MOSQ_ERR_NO_CONN:
        case MOSQ_ERR_CONN_LOST: return "the connection was lost";
        case MOSQ_ERR_KEEPALIVE: return "no answer";
        case MOSQ_ERR_ERRNO: {
            const int error = errno;
            if (error == ECONNREFUSED) return "no answer: connection refused";
            if (error == ETIMEDOUT || error == EHOSTUNREACH) return "no answer";
            return std::strerror(error);
        }
        default: return mosquitto_strerror(rc);
    }
}

}  // namespace

MqttLink::MqttLink(MonitoringSettings settings, std::string topic, MonitorFeed& feed,
                   std::function<void(const std::string&)> linkText)
    : settings_(std::move(settings)), topic_(std::move(topic)), feed_(feed),
      linkText_(std::move(linkText)) {
    feed_.dropped = [this] { return queue_.Dropped(); };
    thread_ = std::thread([this] { Run(); });
}

MqttLink::~MqttLink() {
    stopping_ = true;
    queue_.Wake();
    if (thread_.joinable()) thread_.join();
}

std::string MqttLink::Where() const { return settings_.host + ":" + std::to_string(settings_.port); }

void MqttLink::Run() {
    mosquitto_lib_init();
    Session session;
    mosquitto* mosq = mosquitto_new(nullptr, true, &session);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, OnConnect);
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

    std::string told;
    const auto tell = [&](const std::string& line, const std::string& sentence) {
        if (line == told) return;
        told = line;
        std::fprintf(stderr, "varnholt: %s\n", sentence.c_str());
        if (linkText_) linkText_(line);
    };
    const std::string where = Where();
    auto backoff = 1s;
    bool connected = false;
    const auto publish = [&](const MonitorMessage& m) {
        const std::string topic = topic_ + "/" + m.subtopic;
        return mosquitto_publish(mosq, nullptr, topic.c_str(), static_cast<int>(m.payload.size()),
                                 m.payload.data(), 1, m.retain);
    };

    while (!stopping_) {
        if (!connected) {
            session = Session{};
            int rc = mosquitto_connect(mosq, settings_.host.c_str(), settings_.port,
                                       kKeepAliveSeconds);
            const auto deadline = std::chrono::steady_clock::now() + kConnackWait;
            while (rc == MOSQ_ERR_SUCCESS && !session.connackSeen && !stopping_ &&
                   std::chrono::steady_clock::now() < deadline) {
                rc = mosquitto_loop(mosq, 100, 1);
            }
            if (rc == MOSQ_ERR_SUCCESS && session.connackSeen && session.connack == 0) {
                connected = true;
                backoff = 1s;
                tell("Monitoring: connected to " + where,
                     "Monitoring: connected to the MQTT broker " + where + ".");
                publish({"status", feed_.StatusPayload(queue_.Dropped()), true});
                continue;
            }
            if (stopping_) break;
            const std::string reason =
                rc == MOSQ_ERR_SUCCESS && !session.connackSeen
                    ? "no answer"
                    : Reason(rc, session.connack, !settings_.user.empty());
            mosquitto_disconnect(mosq);
            tell("Monitoring: not connected (" + reason + "), retrying",
                 "Monitoring: cannot publish to the MQTT broker " + where + ": " + reason +
                     "; check [Monitoring] in kestrane.ini and the broker. Retrying.");
            // Interrupted only by the end of the program.
            const auto until = std::chrono::steady_clock::now() + backoff;
            while (!stopping_ && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(100ms);
            }
            backoff = std::min(backoff * 2, std::chrono::duration_cast<std::chrono::seconds>(kLongestBackoff));
            continue;
        }
        MonitorMessage message;
        int rc = MOSQ_ERR_SUCCESS;
        while (rc == MOSQ_ERR_SUCCESS && queue_.Take(message, 0ms)) {
            rc = publish(message);
            if (rc != MOSQ_ERR_SUCCESS) queue_.PutBack(std::move(message));
        }
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(mosq, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            connected = false;
            const std::string reason = Reason(rc, -1, !settings_.user.empty());
            tell("Monitoring: not connected (" + reason + "), retrying",
                 "Monitoring: lost the MQTT broker " + where + ": " + reason + ". Retrying.");
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
