#pragma once

#include <mosquitto.h>

#include <cerrno>
#include <string>

#include "monitoring/error_text.h"
#include "settings/monitoring_settings.h"

namespace varnholt {

// The library's global state and one client handle, released in the
// reverse order on every way out of the link's thread.
class MosquittoHandle {
public:
    explicit MosquittoHandle(void* user) {
        initialised_ = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
        if (initialised_) handle_ = mosquitto_new(nullptr, true, user);
        error_ = errno;
    }
    ~MosquittoHandle() {
        if (handle_) mosquitto_destroy(handle_);
        if (initialised_) mosquitto_lib_cleanup();
    }
    MosquittoHandle(const MosquittoHandle&) = delete;
    MosquittoHandle& operator=(const MosquittoHandle&) = delete;

    mosquitto* get() const { return handle_; }
    // Why there is no handle, when there is none.
    std::string Failure() const {
        if (!initialised_) return "the MQTT library could not be initialised";
        return "the MQTT library could not make a client (" + ErrorText(error_) + ")";
    }

private:
    bool initialised_ = false;
    mosquitto* handle_ = nullptr;
    int error_ = 0;
};

// Why a connection failed, in the operator's words; where is HOST:PORT.
std::string ConnectionReason(int rc, int connack, bool credentialsGiven, const std::string& where);

// The options a bench and a board both set: MQTT 3.1.1, the credentials,
// TLS with the broker's certificate checked against the CA file. False with
// what failed, naming the key ("the CA file x cannot be used (MqttCaFile)").
bool ConfigureClient(mosquitto* mosq, const MonitoringSettings& settings, std::string& failure);

}  // namespace varnholt
