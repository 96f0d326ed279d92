#include "monitoring/mqtt_client.h"

#include <mqtt_protocol.h>

namespace varnholt {

// Why a connection failed, in the operator's words.
std::string ConnectionReason(int rc, int connack, bool credentialsGiven, const std::string& where) {
    if (connack > 0) {
        // Mosquitto answers a wrong password with "not authorised".
        if (connack == CONNACK_REFUSED_BAD_USERNAME_PASSWORD ||
            (connack == CONNACK_REFUSED_NOT_AUTHORIZED && credentialsGiven)) {
            return "user name or password refused";
        }
        if (connack == CONNACK_REFUSED_NOT_AUTHORIZED) {
            return "not authorised: the broker wants a user name and password "
                   "(MqttCredentials)";
        }
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
            // Refused is an answer: nothing listens on that port.
            if (error == ECONNREFUSED) return "refused by " + where;
            if (error == ETIMEDOUT || error == EHOSTUNREACH) return "no answer from " + where;
            return ErrorText(error);
        }
        default:
            return mosquitto_strerror(rc);
    }
}

bool ConfigureClient(mosquitto* mosq, const MonitoringSettings& settings, std::string& failure) {
    auto fail = [&failure](const std::string& what, int rc) {
        failure = what + " (" + mosquitto_strerror(rc) + ")";
        return false;
    };
    int rc = mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (rc != MOSQ_ERR_SUCCESS) return fail("MQTT 3.1.1 was refused", rc);
    if (!settings.user.empty()) {
        rc = mosquitto_username_pw_set(mosq, settings.user.c_str(), settings.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) return fail("the user name was refused (MqttCredentials)", rc);
    }
    if (!settings.caFile.empty()) {
        rc = mosquitto_tls_set(mosq, settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return fail("the CA file " + settings.caFile + " cannot be used (MqttCaFile)", rc);
        }
        rc = mosquitto_tls_opts_set(mosq, 1, nullptr, nullptr);  // verify the broker
        if (rc != MOSQ_ERR_SUCCESS) return fail("TLS verification was refused", rc);
    }
    return true;
}

}  // namespace varnholt
