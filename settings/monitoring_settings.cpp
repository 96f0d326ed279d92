#include "settings/monitoring_settings.h"

#include <filesystem>
#include <fstream>

#include "runlog/log_format.h"
#include "runlog/utf8_text.h"
#include "runlog/working_directory.h"
#include "settings/kestrane_ini.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

constexpr char kSection[] = "Monitoring";

std::string Key(const char* name, const std::string& value) {
    return std::string(kConfigurationFile) + ": [" + kSection + "] " + name + " = '" + value + "'";
}

// A certificate or a credentials file is a few KiB.
constexpr uintmax_t kMaxKeyFileBytes = 64 * 1024;

// A file the key names: a plain file this user can read, of a sensible size.
// Its type is looked at before anything opens it: a FIFO's open would block
// the start-up for good.
bool ReadableFile(const char* key, const std::string& name, std::string& errorText) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::not_found) {
        errorText = Key(key, name) + " names no file in " + WorkingDirectory() +
                    "; give the file's path (relative to the bench folder) or remove the key.";
        return false;
    }
    if (status.type() != fs::file_type::regular) {
        errorText = Key(key, name) + " is " + FileKindText(status.type()) +
                    ", not a readable file; give a plain file this user can read.";
        return false;
    }
    const uintmax_t size = fs::file_size(name, error);
    if (error || size > kMaxKeyFileBytes) {
        errorText = Key(key, name) +
                    " is larger than 64 KiB, far more than such a file holds; "
                    "give the right file.";
        return false;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        errorText =
            Key(key, name) + " is not a readable file; give a plain file this user can read.";
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
        errorText = Key("MqttPort", text) +
                    " is not a port number; give a whole number from 1 to "
                    "65535 (1883, or 8883 for TLS), or remove the key.";
        return false;
    }
    s.port = static_cast<int>(value);
    return true;
}

bool Credentials(const std::string& file, MonitoringSettings& s, std::string& errorText) {
    if (!ReadableFile("MqttCredentials", file, errorText)) return false;
    if (ReadableByOthers(file)) {
        errorText = Key("MqttCredentials", file) +
                    " can be read by other users; make it readable "
                    "by its owner alone (chmod 600 " +
                    file + ").";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::getline(in, s.user);
    std::getline(in, s.password);
    for (std::string* line : {&s.user, &s.password}) {
        while (!line->empty() && (line->back() == '\r' || line->back() == '\n')) line->pop_back();
    }
    if (s.user.empty()) {
        errorText = Key("MqttCredentials", file) +
                    " has no user name on its first line; write the "
                    "user name on the first line and the password on the second.";
        return false;
    }
    // A NUL would silently cut the password where libmosquitto reads it.
    if (s.user.find('\0') != std::string::npos || s.password.find('\0') != std::string::npos) {
        errorText = Key("MqttCredentials", file) +
                    " holds a NUL byte in its user name or password; "
                    "write both as plain text, one per line.";
        return false;
    }
    return true;
}

}  // namespace

bool IsPublishableTopic(const std::string& topic) {
    if (topic.empty() || topic.front() == '/' || topic.back() == '/' || topic.front() == '$' ||
        ValidUtf8(topic) != topic) {
        return false;
    }
    for (const char c : topic) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '#' || c == '+') return false;
    }
    return true;
}

std::string TopicLevel(const std::string& text) {
    std::string level;
    const std::string valid = ValidUtf8(text);
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool plain = byte >= 0x80 ? valid == text : byte > 0x20 && byte != 0x7F;
        level += plain && text[i] != '#' && text[i] != '+' && text[i] != '/' &&
                         !(i == 0 && text[i] == '$')
                     ? text[i]
                     : '_';
    }
    return level.empty() ? std::string("bench") : level;
}

std::string BenchNameProblem(const std::string& name) {
    if (name.empty()) return "is empty";
    if (name.size() > 64) return "is longer than 64 bytes";
    if (!IsValidUtf8(name)) return "is not valid UTF-8 text";
    if (HoldsControlCharacter(name)) return "holds a control character";
    return {};
}

std::string BenchFolderName() {
    std::error_code error;
    const std::string name = std::filesystem::current_path(error).filename().string();
    return error || name.empty() ? std::string("bench") : PrintableName(name, 60);
}

std::optional<MonitoringSettings> ReadMonitoringSettings(const IniFile& ini,
                                                         std::string& errorText) {
    MonitoringSettings s;
    if (ini.Has(kSection, "BenchName")) {
        s.bench = ini.Get(kSection, "BenchName");
        const std::string problem = BenchNameProblem(s.bench);
        if (!problem.empty()) {
            errorText = Key("BenchName", ValidUtf8(LogFieldText(s.bench))) + " " + problem +
                        "; give the bench a short plain name such as bench-3, or remove the key "
                        "to use the bench folder's name.";
            return std::nullopt;
        }
    } else {
        s.bench = BenchFolderName();
    }
    s.host = ini.Get(kSection, "MqttHost");
    s.topic = ini.Get(kSection, "MqttTopic");
    s.caFile = ini.Get(kSection, "MqttCaFile");
    s.notifyCommand = ini.Get(kSection, "NotifyCommand");
    if (!s.notifyCommand.empty() && !IsRunnable(s.notifyCommand)) {
        errorText = Key("NotifyCommand", s.notifyCommand) +
                    " is not a program this user can run; "
                    "give the path of an executable file (it is run without a shell, with the "
                    "arguments EVENT LOG COUNT TEXT), or remove the key.";
        return std::nullopt;
    }
    if (s.host.empty()) return s;
    if (s.host.find_first_of(" \t/") != std::string::npos) {
        errorText = Key("MqttHost", s.host) +
                    " is not a host name; give the broker's name or "
                    "address, such as broker.lab.";
        return std::nullopt;
    }
    if (!s.topic.empty() && !IsPublishableTopic(s.topic)) {
        // Shown as the log shows device bytes: <TAB>, <01>; stray bytes as Latin-1.
        errorText = Key("MqttTopic", ValidUtf8(LogFieldText(s.topic))) +
                    " is not a topic to publish under; give a name like varnholt/bench-3 in "
                    "plain text: without # or +, control characters or a leading $, and without "
                    "a leading or trailing /.";
        return std::nullopt;
    }
    if (!s.caFile.empty() && !ReadableFile("MqttCaFile", s.caFile, errorText)) return std::nullopt;
    if (!Port(ini, !s.caFile.empty(), s, errorText)) return std::nullopt;
    const std::string credentials = ini.Get(kSection, "MqttCredentials");
    if (!credentials.empty() && !Credentials(credentials, s, errorText)) return std::nullopt;
    return s;
}

}  // namespace varnholt
