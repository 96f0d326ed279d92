#include "settings/monitoring_settings.h"

#include <filesystem>
#include <fstream>

#include "settings/kestrane_ini.h"
#include "runlog/working_directory.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

constexpr char kSection[] = "Monitoring";

std::string Key(const char* name, const std::string& value) {
    return std::string(kConfigurationFile) + ": [" + kSection + "] " + name + " = '" + value + "'";
}

// A file the key names: a plain file this user can read.
bool ReadableFile(const char* key, const std::string& name, std::string& errorText) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::not_found) {
        errorText = Key(key, name) + " names no file in " + WorkingDirectory() +
                    "; give the file's path (relative to the bench folder) or remove the key.";
        return false;
    }
    std::ifstream in(name, std::ios::binary);
    if (status.type() != fs::file_type::regular || !in) {
        errorText = Key(key, name) + " is not a readable file; give a plain file this user can read.";
        return false;
    }
    return true;
}

bool Port(const IniFile& ini, bool tls, MonitoringSettings& s, std::string& errorText) {
    s.port = tls ? kMqttTlsPort : kMqttPort;
    if (!ini.Has(kSection, "MqttPort")) return true;
    const std::string text = ini.Get(kSection, "MqttPort");
    long value = 0;
    bool digits = !text.empty() && text.size() <= 5;
    for (const char c : text) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) value = value * 10 + (c - '0');
    }
    if (!digits || value < 1 || value > 65535) {
        errorText = Key("MqttPort", text) + " is not a port number; give a whole number from 1 to "
                    "65535 (1883, or 8883 for TLS), or remove the key.";
        return false;
    }
    s.port = static_cast<int>(value);
    return true;
}

bool Credentials(const std::string& file, MonitoringSettings& s, std::string& errorText) {
    if (!ReadableFile("MqttCredentials", file, errorText)) return false;
    if (ReadableByOthers(file)) {
        errorText = Key("MqttCredentials", file) + " can be read by other users; make it readable "
                    "by its owner alone (chmod 600 " + file + ").";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::getline(in, s.user);
    std::getline(in, s.password);
    for (std::string* line : {&s.user, &s.password}) {
        while (!line->empty() && (line->back() == '\r' || line->back() == '\n')) line->pop_back();
    }
    if (s.user.empty()) {
        errorText = Key("MqttCredentials", file) + " has no user name on its first line; write the "
                    "user name on the first line and the password on the second.";
        return false;
    }
    return true;
}

}  // namespace

std::optional<MonitoringSettings> ReadMonitoringSettings(const IniFile& ini, std::string& errorText) {
    MonitoringSettings s;
    s.host = ini.Get(kSection, "MqttHost");
    s.topic = ini.Get(kSection, "MqttTopic");
    s.caFile = ini.Get(kSection, "MqttCaFile");
    s.notifyCommand = ini.Get(kSection, "NotifyCommand");
    if (!s.notifyCommand.empty() && !IsRunnable(s.notifyCommand)) {
        errorText = Key("NotifyCommand", s.notifyCommand) + " is not a program this user can run; "
                    "give the path of an executable file (it is run without a shell, with the "
                    "arguments EVENT LOG COUNT TEXT), or remove the key.";
        return std::nullopt;
    }
    if (s.host.empty()) return s;
    if (s.host.find_first_of(" \t/") != std::string::npos) {
        errorText = Key("MqttHost", s.host) + " is not a host name; give the broker's name or "
                    "address, such as broker.lab.";
        return std::nullopt;
    }
    if (!s.topic.empty() && (s.topic.find_first_of("#+") != std::string::npos ||
                             s.topic.front() == '/' || s.topic.back() == '/')) {
        errorText = Key("MqttTopic", s.topic) + " is not a topic to publish under; give a name "
                    "like varnholt/bench-3, without # or + and without a leading or trailing /.";
        return std::nullopt;
    }
    if (!s.caFile.empty() && !ReadableFile("MqttCaFile", s.caFile, errorText)) return std::nullopt;
    if (!Port(ini, !s.caFile.empty(), s, errorText)) return std::nullopt;
    const std::string credentials = ini.Get(kSection, "MqttCredentials");
    if (!credentials.empty() && !Credentials(credentials, s, errorText)) return std::nullopt;
    return s;
}

}  // namespace varnholt
