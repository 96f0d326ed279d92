#include "runlog/run_record.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <tuple>

#include "runlog/json.h"
#include "runlog/log_format.h"
#include "runlog/plain_file.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

// One value at the record's top level; nested objects and arrays (settings a
// later version may add) are read past.
struct Value {
    enum class Type { Null, String, Number, Bool, Other } type = Type::Null;
    std::string text;  // a string, or a number as written
    double number = 0;
    bool whole = false;  // a number written without fraction or exponent
};

constexpr int kDeepest = 16;

// The record's one shape (an object of plain values) taken from the JSON
// library's events, so nothing is built for what is read past and no file
// nests deeper than kDeepest.
class RecordFields : public nlohmann::json_sax<Json> {
public:
    std::map<std::string, Value> fields;
    std::string why;

    bool null() override { return Put(Value{}); }
    bool boolean(bool value) override {
        Value v;
        v.type = Value::Type::Bool;
        v.number = value ? 1 : 0;
        return Put(std::move(v));
    }
    bool number_integer(number_integer_t value) override {
        return Whole(static_cast<double>(value), std::to_string(value));
    }
    bool number_unsigned(number_unsigned_t value) override {
        return Whole(static_cast<double>(value), std::to_string(value));
    }
    bool number_float(number_float_t value, const string_t& raw) override {
        Value v;
        v.type = Value::Type::Number;
        v.number = value;
        v.text = raw;
        return Put(std::move(v));
    }
    bool string(string_t& value) override {
        Value v;
        v.type = Value::Type::String;
        v.text = std::move(value);
        return Put(std::move(v));
    }
    bool binary(binary_t&) override { return Put(Value{Value::Type::Other, {}, 0, false}); }
    bool start_object(std::size_t) override { return Open(); }
    bool start_array(std::size_t) override {
        if (depth_ == 0) return Stop("it does not start with '{'");
        return Open();
    }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        if (depth_ == 1) key_ = std::move(key);
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& error) override {
        if (why.empty()) {
            // The library's own words after its "[json.exception...] " tag.
            std::string what = error.what();
            const size_t at = what.find("syntax error while parsing value - ");
            what = at == std::string::npos ? "its syntax is broken" : what.substr(at + 35);
            why = what + " near byte " + std::to_string(position > 0 ? position - 1 : 0);
        }
        return false;
    }

private:
    bool Whole(double number, std::string text) {
        Value v;
        v.type = Value::Type::Number;
        v.number = number;
        v.text = std::move(text);
        v.whole = true;
        return Put(std::move(v));
    }
    bool Put(Value value) {
        if (depth_ == 0) return Stop("it does not start with '{'");
        if (depth_ > 1) return true;
        if (!fields.emplace(key_, std::move(value)).second) {
            return Stop("\"" + ValidUtf8(key_.substr(0, 40)) + "\" is given twice");
        }
        return true;
    }
    bool Open() {
        if (depth_ == 1) {
            Value v;
            v.type = Value::Type::Other;
            if (!Put(std::move(v))) return false;
        }
        if (++depth_ > kDeepest) return Stop("it nests deeper than " + std::to_string(kDeepest));
        return true;
    }
    bool Close() {
        --depth_;
        return true;
    }
    bool Stop(std::string reason) {
        why = std::move(reason);
        return false;
    }

    int depth_ = 0;
    std::string key_;
};

bool ReadFields(const std::string& text, std::map<std::string, Value>& fields,
                std::string& problem) {
    RecordFields sax;
    if (!Json::sax_parse(text, &sax) || !sax.why.empty()) {
        problem = "it is not JSON of a run record (" +
                  (sax.why.empty() ? std::string("its syntax is broken") : sax.why) + ")";
        return false;
    }
    fields = std::move(sax.fields);
    return true;
}

}  // namespace

// Serial numbers are short; a longer text is a paste gone wrong.
constexpr size_t kMaxNameBytes = 64;

std::string UnitNameProblem(const std::string& name, const char* what) {
    if (name.size() > kMaxNameBytes) {
        return std::string("The ") + what + " is longer than " + std::to_string(kMaxNameBytes) +
               " characters; give a shorter one.";
    }
    if (!IsValidUtf8(name)) {
        return std::string("The ") + what + " is not valid UTF-8 text; type it again.";
    }
    if (HoldsControlCharacter(name)) {
        return std::string("The ") + what +
               " holds a control character (a tab or line end); type it again.";
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        const auto third = i + 2 < name.size() ? static_cast<unsigned char>(name[i + 2]) : 0;
        // Direction controls make distinct names print alike: U+061C,
        // U+200E..U+200F, U+202A..U+202E, U+2066..U+2069.
        if ((byte == 0xD8 && next == 0x9C) ||
            (byte == 0xE2 && next == 0x80 &&
             (third == 0x8E || third == 0x8F || (third >= 0xAA && third <= 0xAE))) ||
            (byte == 0xE2 && next == 0x81 && third >= 0xA6 && third <= 0xA9)) {
            return std::string("The ") + what +
                   " holds a text-direction control character; type it again.";
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
        z != 'Z' || y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 60 || h < 0 || mi < 0 || s < 0) {
        return false;
    }
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d > kDays[mo - 1] + (mo == 2 && leap ? 1 : 0)) return false;  // 2026-02-31
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
    Json out = {{"format", kRunRecordFormat},
                {"log", r.log},
                {"kind", r.kind},
                {"unit", r.unit},
                {"lot", r.lot},
                {"started_utc", UtcText(r.startedUtc)},
                {"utc_offset_minutes", r.utcOffsetMinutes},
                {"ended_utc", r.endedUtc ? Json(UtcText(*r.endedUtc)) : Json(nullptr)},
                {"ended", r.ended ? Json(*r.ended) : Json(nullptr)},
                {"last_count", r.lastCount}};
    if (!r.host.empty()) out["host"] = r.host;
    if (r.sampleTimeTicks >= 0) out["sample_time_ticks"] = r.sampleTimeTicks;
    if (r.powerOffTicks >= 0) out["power_off_ticks"] = r.powerOffTicks;
    if (r.assignedLater) {
        out["assigned_later"] = true;
        out["note"] =
            "made by varnholt-report --assign-unit; started_utc from the log's header read in "
            "this machine's time zone";
    }
    return JsonText(out) + "\n";
}

std::optional<RunRecord> ParseRunRecord(const std::string& text, std::string& problem) {
    std::map<std::string, Value> fields;
    if (!ReadFields(text, fields, problem)) return std::nullopt;
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
    if (!format->whole) {
        problem = "its format " + ValidUtf8(format->text.substr(0, 40)) +
                  " is not a whole number; this version reads format " +
                  std::to_string(kRunRecordFormat);
        return std::nullopt;
    }
    if (format->number != kRunRecordFormat) {
        problem = "its format " + format->text + " is not one this version reads (" +
                  std::to_string(kRunRecordFormat) + ")";
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
    // A name the window would refuse is no name: the run is read as unnamed.
    for (const auto& [given, name, what] :
         {std::tuple(&unit->text, &r.unit, "unit"), std::tuple(&lot->text, &r.lot, "lot")}) {
        const std::string refused = UnitNameProblem(*given, what);
        if (refused.empty()) {
            *name = *given;
        } else {
            r.notes.push_back("its " + std::string(what) + " name " + PrintableName(*given, 40) +
                              " was not taken (" + refused + ")");
        }
    }
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
    if (r.endedUtc && *r.endedUtc < r.startedUtc) {
        r.notes.push_back("its \"ended_utc\" " + UtcText(*r.endedUtc) +
                          " is before its \"started_utc\" " + UtcText(r.startedUtc));
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

namespace {

// The file a log's name stands for, when the name is a link; one look (an
// lstat) otherwise: a folder of thousands of logs is read often.
std::filesystem::path RealPath(const std::string& logPath) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(logPath, error))) {
        return logPath;
    }
    std::filesystem::path real = std::filesystem::canonical(logPath, error);
    return error ? std::filesystem::path(logPath) : real;
}

}  // namespace

std::string RunRecordPathOf(const std::string& logPath) {
    const std::filesystem::path log = RealPath(logPath);
    return (log.parent_path() / RunRecordName(log.filename().string())).string();
}

std::optional<RunRecord> ReadRunRecordOf(const std::string& logPath, std::string& problem) {
    namespace fs = std::filesystem;
    problem.clear();
    const fs::path log = RealPath(logPath);
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

std::vector<RunRecord> RunRecordsIn(const std::string& folder) {
    namespace fs = std::filesystem;
    constexpr std::string_view suffix = "-run.json";
    std::vector<RunRecord> records;
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
        if (auto record = ReadRunRecordOf((fs::path(folder) / log).string(), problem)) {
            records.push_back(std::move(*record));
        }
    }
    return records;
}

std::optional<RunRecord> NewestRunRecordIn(const std::string& folder) {
    std::optional<RunRecord> newest;
    for (RunRecord& record : RunRecordsIn(folder)) {
        if (!newest || record.startedUtc > newest->startedUtc) newest = std::move(record);
    }
    return newest;
}

}  // namespace varnholt
