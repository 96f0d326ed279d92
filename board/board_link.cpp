#include "board/board_link.h"

#include <chrono>
#include <cstdio>
#include <set>

#include "monitoring/mqtt_client.h"
#include "monitoring/notifier.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 15;

struct Session {
    bool connackSeen = false;
    int connack = -1;
    BoardLink::Take* take = nullptr;
};

void OnConnect(mosquitto*, void* user, int rc) {
    auto* s = static_cast<Session*>(user);
    s->connackSeen = true;
    s->connack = rc;
}

void OnMessage(mosquitto*, void* user, const mosquitto_message* m) {
    auto* s = static_cast<Session*>(user);
    if (!m->topic || m->payloadlen < 0) return;
    (*s->take)(m->topic, std::string_view(static_cast<const char*>(m->payload),
                                          static_cast<size_t>(m->payloadlen)));
}

}  // namespace

BoardLink::BoardLink(MonitoringSettings settings, std::string topicFilter, Take take)
    : settings_(std::move(settings)), filter_(std::move(topicFilter)), take_(std::move(take)) {
    thread_ = std::thread([this] { Run(); });
}

BoardLink::~BoardLink() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void BoardLink::Run() {
    Session session;
    session.take = &take_;
    MosquittoHandle handle(&session);
    const std::string where = settings_.host + ":" + std::to_string(settings_.port);
    std::set<std::string> told;
    const auto tell = [&told](const std::string& sentence) {
        if (told.insert(sentence).second)
            std::fprintf(stderr, "varnholt-board: %s\n", sentence.c_str());
    };
    std::string failure;
    if (!handle.get()) failure = handle.Failure();
    if (failure.empty() && !ConfigureClient(handle.get(), settings_, failure)) {
        // failure is said below
    }
    if (!failure.empty()) {
        tell("cannot subscribe to the MQTT broker " + where + ": " + failure +
             "; check the broker options. The board shows no bench.");
        return;
    }
    mosquitto* mosq = handle.get();
    KeepFromChildren();
    mosquitto_connect_callback_set(mosq, OnConnect);
    mosquitto_message_callback_set(mosq, OnMessage);
    auto backoff = std::chrono::milliseconds(1s);
    while (!stopping_) {
        session.connackSeen = false;
        session.connack = -1;
        int rc = mosquitto_connect_async(mosq, settings_.host.c_str(), settings_.port,
                                         kKeepAliveSeconds);
        KeepFromChildren();
        const auto deadline = Clock::now() + 10s;
        while (rc == MOSQ_ERR_SUCCESS && !session.connackSeen && !stopping_ &&
               Clock::now() < deadline) {
            rc = mosquitto_loop(mosq, 100, 1);
        }
        if (stopping_) break;
        if (rc == MOSQ_ERR_SUCCESS && session.connackSeen && session.connack == 0) {
            rc = mosquitto_subscribe(mosq, nullptr, filter_.c_str(), 1);
            if (rc == MOSQ_ERR_SUCCESS) {
                tell("connected to the MQTT broker " + where + ", reading " + filter_ + ".");
                const auto connected = Clock::now();
                while (!stopping_ && rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(mosq, 100, 1);
                if (stopping_) break;
                if (Clock::now() - connected > 30s) {
                    backoff = 1s;
                    told.clear();
                }
                tell("lost the MQTT broker " + where + ": " +
                     ConnectionReason(rc, -1, !settings_.user.empty(), where) + ". Retrying.");
            } else {
                tell("the broker " + where + " refused the subscription to " + filter_ + " (" +
                     mosquitto_strerror(rc) + "); check --topic.");
            }
        } else {
            const bool silent = rc == MOSQ_ERR_SUCCESS && !session.connackSeen;
            tell("cannot subscribe to the MQTT broker " + where + ": " +
                 (silent ? "no answer from " + where + " in 10 s"
                         : ConnectionReason(rc, session.connack, !settings_.user.empty(), where)) +
                 "; check --broker, --ca, --credentials and the broker. Retrying.");
        }
        mosquitto_disconnect(mosq);
        const auto until = Clock::now() + backoff;
        while (!stopping_ && Clock::now() < until) std::this_thread::sleep_for(50ms);
        backoff = std::min(backoff * 2, std::chrono::milliseconds(30s));
    }
    if (session.connackSeen && session.connack == 0) mosquitto_disconnect(mosq);
}

}  // namespace varnholt
