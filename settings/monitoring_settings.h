#pragma once

#include <optional>
#include <string>

#include "settings/ini_file.h"

namespace varnholt {

// [Monitoring] of kestrane.ini, checked. Without MqttHost no MQTT runs;
// NotifyCommand works with or without it.
struct MonitoringSettings {
    std::string host;      // empty: no MQTT
    int port = 1883;       // 8883 by default with a CA file
    std::string topic;     // empty: the default, varnholt/<host name>/<bench folder name>
    std::string caFile;    // given: TLS, the broker's certificate checked against it
    std::string user;      // from the credentials file
    std::string password;  // never shown anywhere
    std::string notifyCommand;
    // BenchName: how a lab board and the window's title name this bench; the
    // bench folder's name by default.
    std::string bench;
};

constexpr int kMqttPort = 1883;
constexpr int kMqttTlsPort = 8883;

// Relative file names are taken from the bench folder (the working folder).
// A bad value gives a sentence naming the key: a port that is not a number
// in 1..65535, a CA or credentials file that is missing or unreadable, a
// credentials file that others may read, a notify command that is not a
// program.
std::optional<MonitoringSettings> ReadMonitoringSettings(const IniFile& ini,
                                                         std::string& errorText);

// A topic the broker takes for publishing: valid UTF-8, no control
// characters, no wildcards, no leading $ (the broker's own), no leading or
// trailing /.
bool IsPublishableTopic(const std::string& topic);
// One level of a topic made from any text (a host or folder name): what
// IsPublishableTopic refuses becomes '_'; empty gives "bench".
std::string TopicLevel(const std::string& text);

// Why a bench name cannot be used, or empty: the topic's rule for text (no
// control characters, valid UTF-8) and at most 64 bytes.
std::string BenchNameProblem(const std::string& name);
// The bench folder's name (the working folder's), for BenchName's default.
std::string BenchFolderName();

// Whether users other than the owner may read the file (POSIX permissions;
// false where the system has no such notion).
bool ReadableByOthers(const std::string& path);
// Whether the file is a program this user may run.
bool IsRunnable(const std::string& path);

}  // namespace varnholt
