#include "runlog/run_record.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "runlog/log_format.h"
#include "runlog/plain_file.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

// One value at the record's top level; nested objects and arrays (settings a
// later version may add) are read past.
struct Value {
    enum class Type { Null, String, Number, Bool, Other } type = Type::Null;
    std::string text;
    double number = 0;
};

// A small reader for the one JSON shape of a record: an object of plain
// values. Depth is bounded, so no file can exhaust the stack.
class JsonReader {
public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    bool Object(std::map<std::string, Value>& out, std::string& problem) {
        Space();
        if (!Take('{')) return Fail(problem, "it does not start with '{'");
        Space();
        if (Take('}')) return End(problem);
        for (;;) {
            std::string key;
            Space();
            if (!String(key)) return Fail(problem, "a key is not a string");
            Space();
            if (!Take(':')) return Fail(problem, "a ':' is missing");
            Value value;
            if (!Any(value, 0))
                return Fail(problem, "the value of \"" + Shown(key) + "\" is not JSON");
            if (!out.emplace(key, value).second) {
                return Fail(problem, "\"" + Shown(key) + "\" is given twice");
            }
            Space();
            if (Take('}')) return End(problem);
            if (!Take(',')) return Fail(problem, "a ',' or '}' is missing");
        }
    }

private:
    static std::string Shown(const std::string& key) { return ValidUtf8(key.substr(0, 40)); }

    bool Fail(std::string& problem, const std::string& why) {
        problem =
            "it is not JSON of a run record (" + why + " near byte " + std::to_string(i_) + ")";
        return false;
    }
    bool End(std::string& problem) {
        Space();
        return i_ == s_.size() || Fail(problem, "something follows the record");
    }
    void Space() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool Take(char c) {
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    bool Word(const char* word) {
        const std::string w = word;
        if (s_.compare(i_, w.size(), w) != 0) return false;
        i_ += w.size();
        return true;
    }
    static int Hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    static void Utf8(uint32_t code, std::string& out) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool Unicode(uint32_t& code) {
        code = 0;
        for (int k = 0; k < 4; ++k) {
            if (i_ >= s_.size() || Hex(s_[i_]) < 0) return false;
            code = code * 16 + static_cast<uint32_t>(Hex(s_[i_++]));
        }
        return true;
    }
    bool String(std::string& out) {
        if (!Take('"')) return false;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t code;
                    if (!Unicode(code)) return false;
                    if (code >= 0xD800 && code < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
                        i_ += 2;
                        uint32_t low;
                        if (!Unicode(low) || low < 0xDC00 || low > 0xDFFF) return false;
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    Utf8(code, out);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool Number(double& value) {
        const size_t start = i_;
        Take('-');
        while (i_ < s_.size() &&
               ((s_[i_] >= '0' && s_[i_] <= '9') || s_[i_] == '.' || s_[i_] == 'e' ||
                s_[i_] == 'E' || s_[i_] == '+' || s_[i_] == '-')) {
            ++i_;
        }
        if (i_ == start) return false;
        const std::string text = s_.substr(start, i_ - start);
        char* end = nullptr;
        value = std::strtod(text.c_str(), &end);
        return end == text.c_str() + text.size() && std::isfinite(value);
    }
    bool Any(Value& value, int depth) {
        Space();
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '"') {
            value.type = Value::Type::String;
            return String(value.text);
        }
        if (c == '{' || c == '[') {
            if (depth > 16) return false;
            const char close = c == '{' ? '}' : ']';
            ++i_;
            value.type = Value::Type::Other;
            Space();
            if (Take(close)) return true;
            for (;;) {
                if (c == '{') {
                    std::string key;
                    Space();
                    if (!String(key)) return false;
                    Space();
                    if (!Take(':')) return false;
                }
                Value inner;
                if (!Any(inner, depth + 1)) return false;
                Space();
                if (Take(close)) return true;
                if (!Take(',')) return false;
            }
        }
        if (Word("null")) return value.type = Value::Type::Null, true;
        if (Word("true")) return value.type = Value::Type::Bool, value.number = 1, true;
        if (Word("false")) return value.type = Value::Type::Bool, value.number = 0, true;
        value.type = Value::Type::Number;
        return Number(value.number);
    }

    const std::string& s_;
    size_t i_ = 0;
};

std::string Quoted(const std::string& text) { return JsonString(text); }

}  // namespace

// Serial numbers are short; a longer text is a paste gone wrong.
constexpr size_t kMaxNameBytes = 64;

std::string UnitNameProblem(const std::string& name, const char* what) {
    if (name.size() > kMaxNameBytes) {
        return std::string("The ") + what + " is longer than " + std::to_string(kMaxNameBytes) +
               " characters; give a shorter one.";
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return std::string("The ") + what +
                   " holds a control character (a tab or line end); type it again.";
        }
    }
    return {};
}

std::string RunRecordName(const std::string& logFileName) {
    const size_t dot = logFileName.rfind('.');
    return (dot == std::string::npos ? logFileName : logFileName.substr(0, dot)) + "-run.json";
}

std::string UtcText(int64_t seconds) { return IsoLocalText(seconds) + "Z"; }

bool ParseUtcText(const std::string& text, int64_t& seconds) {
    int y, mo, d, h, mi, s;
    char z = 0;
    if (text.size() != 20 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
        z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 ||
        mi < 0 || s < 0) {
        return false;
    }
    seconds = LocalSeconds(y, mo, d, h * 3600 + mi * 60 + s);
    return true;
}

int64_t UtcOfLocalSeconds(int64_t localSeconds) {
    const int64_t days = localSeconds / 86400;
    std::tm local{};
    local.tm_year = 70;
    local.tm_mday = 1 + static_cast<int>(days);  // mktime counts the days on from 1 January 1970
    local.tm_sec = static_cast<int>(localSeconds - days * 86400);
    local.tm_isdst = -1;
    const std::time_t utc = std::mktime(&local);
    return utc == static_cast<std::time_t>(-1) ? localSeconds : static_cast<int64_t>(utc);
}

std::string RunRecordJson(const RunRecord& r) {
    std::string out = "{\"format\": " + std::to_string(kRunRecordFormat) +
                      ", \"log\": " + Quoted(r.log) + ", \"kind\": " + Quoted(r.kind) +
                      ",\n \"unit\": " + Quoted(r.unit) + ", \"lot\": " + Quoted(r.lot) +
                      ",\n \"started_utc\": " + Quoted(UtcText(r.startedUtc)) +
                      ", \"utc_offset_minutes\": " + std::to_string(r.utcOffsetMinutes) +
                      ",\n \"ended_utc\": " + (r.endedUtc ? Quoted(UtcText(*r.endedUtc)) : "null") +
                      ", \"ended\": " + (r.ended ? Quoted(*r.ended) : "null") +
                      ", \"last_count\": " + std::to_string(r.lastCount);
    if (!r.host.empty()) out += ",\n \"host\": " + Quoted(r.host);
    if (r.sampleTimeTicks >= 0)
        out += ", \"sample_time_ticks\": " + std::to_string(r.sampleTimeTicks);
    if (r.powerOffTicks >= 0) out += ", \"power_off_ticks\": " + std::to_string(r.powerOffTicks);
    if (r.assignedLater) {
        out +=
            ",\n \"assigned_later\": true, \"note\": \"made by varnholt-report --assign-unit; "
            "started_utc from the log's header read in this machine's time zone\"";
    }
    return out + "}\n";
}

std::optional<RunRecord> ParseRunRecord(const std::string& text, std::string& problem) {
    std::map<std::string, Value> fields;
    if (!JsonReader(text).Object(fields, problem)) return std::nullopt;
    const auto field = [&](const char* key, Value::Type type, bool nullable) -> const Value* {
        const auto it = fields.find(key);
        if (it == fields.end()) {
            problem = std::string("it has no \"") + key + "\"";
            return nullptr;
        }
        if (it->second.type == type || (nullable && it->second.type == Value::Type::Null)) {
            return &it->second;
        }
        problem = std::string("its \"") + key + "\" is not " +
                  (type == Value::Type::String ? "a text" : "a number");
        return nullptr;
    };
    const Value* format = field("format", Value::Type::Number, false);
    if (format == nullptr) return std::nullopt;
    if (format->number != kRunRecordFormat) {
        problem = "its format " + std::to_string(static_cast<long long>(format->number)) +
                  " is not one this version reads (" + std::to_string(kRunRecordFormat) + ")";
        return std::nullopt;
    }
    RunRecord r;
    const Value *log = field("log", Value::Type::String, false),
                *kind = log ? field("kind", Value::Type::String, false) : nullptr,
                *unit = kind ? field("unit", Value::Type::String, false) : nullptr,
                *lot = unit ? field("lot", Value::Type::String, false) : nullptr,
                *started = lot ? field("started_utc", Value::Type::String, false) : nullptr,
                *offset =
                    started ? field("utc_offset_minutes", Value::Type::Number, false) : nullptr,
                *endedUtc = offset ? field("ended_utc", Value::Type::String, true) : nullptr,
                *ended = endedUtc ? field("ended", Value::Type::String, true) : nullptr,
                *last = ended ? field("last_count", Value::Type::Number, false) : nullptr;
    if (last == nullptr) return std::nullopt;
    r.log = log->text;
    r.kind = kind->text;
    if (r.kind != "cycle" && r.kind != "powercut") {
        problem = "its \"kind\" is neither \"cycle\" nor \"powercut\"";
        return std::nullopt;
    }
    r.unit = unit->text;
    r.lot = lot->text;
    if (!ParseUtcText(started->text, r.startedUtc)) {
        problem = "its \"started_utc\" is not a UTC time like 2026-12-08T14:07:09Z";
        return std::nullopt;
    }
    if (std::abs(offset->number) > 24 * 60) {
        problem = "its \"utc_offset_minutes\" is beyond a day";
        return std::nullopt;
    }
    r.utcOffsetMinutes = static_cast<int>(offset->number);
    if (endedUtc->type == Value::Type::String) {
        int64_t when = 0;
        if (!ParseUtcText(endedUtc->text, when)) {
            problem = "its \"ended_utc\" is not a UTC time like 2026-12-08T14:07:09Z";
            return std::nullopt;
        }
        r.endedUtc = when;
    }
    if (ended->type == Value::Type::String) r.ended = ended->text;
    if (last->number < 0 || last->number > 9e15) {
        problem = "its \"last_count\" is out of range";
        return std::nullopt;
    }
    r.lastCount = static_cast<int64_t>(last->number);
    const auto host = fields.find("host");
    if (host != fields.end() && host->second.type == Value::Type::String)
        r.host = host->second.text;
    const auto later = fields.find("assigned_later");
    r.assignedLater = later != fields.end() && later->second.type == Value::Type::Bool &&
                      later->second.number != 0;
    return r;
}

}  // namespace varnholt

namespace varnholt {

std::optional<RunRecord> ReadRunRecordOf(const std::string& logPath, std::string& problem) {
    namespace fs = std::filesystem;
    problem.clear();
    const fs::path log(logPath);
    const std::string logName = log.filename().string();
    const fs::path path = log.parent_path() / RunRecordName(logName);
    PlainFile file;
    switch (OpenPlainFile(path.string(), file, problem)) {
        case OpenOutcome::Missing:
            problem.clear();
            return std::nullopt;
        case OpenOutcome::NotPlain:
            return std::nullopt;
        case OpenOutcome::Opened:
            break;
    }
    if (file.size > kRunRecordMaxBytes) {
        problem = "it is larger than " + std::to_string(kRunRecordMaxBytes / 1024) +
                  " KiB, far more than a record";
        return std::nullopt;
    }
    // One byte more than the size seen: a file that grew since is caught.
    std::string text(static_cast<size_t>(file.size) + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.file));
    if (std::ferror(file.file) != 0 || text.size() > file.size) {
        problem = std::ferror(file.file) != 0 ? "reading it failed" : "it grew while it was read";
        return std::nullopt;
    }
    auto record = ParseRunRecord(text, problem);
    if (record && record->log != logName) {
        problem =
            "it names the log \"" + ValidUtf8(record->log.substr(0, 80)) + "\", not " + logName;
        return std::nullopt;
    }
    return record;
}

std::optional<RunRecord> NewestRunRecordIn(const std::string& folder) {
    namespace fs = std::filesystem;
    constexpr std::string_view suffix = "-run.json";
    std::optional<RunRecord> newest;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string log = name.substr(0, name.size() - suffix.size()) + ".txt";
        if (!IsTestLogName(log)) continue;
        std::string problem;
        auto record = ReadRunRecordOf((fs::path(folder) / log).string(), problem);
        if (record && (!newest || record->startedUtc > newest->startedUtc))
            newest = std::move(record);
    }
    return newest;
}

}  // namespace varnholt
