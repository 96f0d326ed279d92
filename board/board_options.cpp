#include "board/board_options.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "settings/ini_file.h"

namespace varnholt {
namespace {

bool Number(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value);
}

// The bench's checks speak of kestrane.ini's keys; here they are options.
std::string AsOption(std::string sentence, bool fromFile) {
    static const std::pair<const char*, const char*> keys[] = {
        {"MqttHost", "--broker"},
        {"MqttPort", "--broker"},
        {"MqttCaFile", "--ca"},
        {"MqttCredentials", "--credentials"}};
    for (const auto& [key, option] : keys) {
        const std::string prefix = std::string("kestrane.ini: [Monitoring] ") + key + " = ";
        if (sentence.rfind(prefix, 0) == 0) {
            return (fromFile ? std::string("board.ini: ") + option + " "
                             : std::string(option) + " ") +
                   sentence.substr(prefix.size());
        }
    }
    return sentence;
}

}  // namespace

const char kBoardHelp[] =
    "usage: varnholt-board [--broker HOST[:PORT]] [--topic ROOT] [--ca FILE]\n"
    "                      [--credentials FILE] [--listen ADDR:PORT] [--folder DIR]...\n"
    "                      [--alert-command PROGRAM] [--stall-minutes N]\n"
    "                      [--target T [--reliability R] [--confidence C] [--beta B]]\n"
    "                      [--config board.ini]\n"
    "Shows every bench publishing under ROOT (default varnholt) on the broker\n"
    "(default localhost:1883), and the lots of the bench folders given, on one\n"
    "read-only web page (default http://127.0.0.1:8080/), with /api/benches,\n"
    "/api/lots and /metrics (Prometheus).\n"
    "  --alert-command  run as PROGRAM EVENT BENCH UNIT TEXT, without a shell, for\n"
    "                   offline, stalled, failure, bench_fault, back, plan_met and\n"
    "                   plan_broken; each cause once until it clears\n"
    "  --stall-minutes  a running bench without a row this long (or ten of its\n"
    "                   median cycles, if longer) is stalled; default 10\n"
    "  --config         a file whose [Board] keys Broker, Topic, CaFile,\n"
    "                   Credentials, Listen, Folder (one key per folder),\n"
    "                   AlertCommand, StallMinutes, Target, Reliability,\n"
    "                   Confidence and Beta stand for the options\n"
    "See varnholt-board(1).\n";

std::optional<BoardOptions> ParseBoardOptions(const std::vector<std::string>& args,
                                              std::string& why, bool& help) {
    help = false;
    static const std::map<std::string, std::string> keyOf = {{"--broker", "broker"},
                                                             {"--topic", "topic"},
                                                             {"--ca", "cafile"},
                                                             {"--credentials", "credentials"},
                                                             {"--listen", "listen"},
                                                             {"--folder", "folder"},
                                                             {"--alert-command", "alertcommand"},
                                                             {"--stall-minutes", "stallminutes"},
                                                             {"--target", "target"},
                                                             {"--reliability", "reliability"},
                                                             {"--confidence", "confidence"},
                                                             {"--beta", "beta"}};
    std::map<std::string, std::vector<std::string>> given;
    std::string config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return std::nullopt;
        }
        const bool isConfig = arg == "--config";
        const auto key = keyOf.find(arg);
        if (key == keyOf.end() && !isConfig) {
            why = "'" + arg + "' is not an option of varnholt-board; see varnholt-board --help.";
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            why = arg + " needs a value after it; see varnholt-board --help.";
            return std::nullopt;
        }
        if (isConfig) {
            config = args[++i];
        } else {
            given[key->second].push_back(args[++i]);
        }
    }
    bool fromFile = false;
    if (!config.empty()) {
        IniFile ini;
        if (!ReadIniFile(config, ini, why)) return std::nullopt;
        if (!ini.found) {
            why = "--config " + config + " names no file; give the path of the board's board.ini.";
            return std::nullopt;
        }
        for (const auto& [name, value] : ini.Section("Board")) {
            if (given.count(name)) continue;  // the command line wins
            std::istringstream lines(value);
            for (std::string line; std::getline(lines, line);) given[name].push_back(line);
            fromFile = true;
        }
    }
    const auto one = [&given](const char* key) {
        const auto it = given.find(key);
        return it == given.end() ? std::string() : it->second.back();
    };
    BoardOptions o;
    if (!one("topic").empty()) o.topic = one("topic");
    if (o.topic.size() >= 2 && o.topic.compare(o.topic.size() - 2, 2, "/#") == 0) {
        o.topic.resize(o.topic.size() - 2);
    }
    if (!IsPublishableTopic(o.topic)) {
        why = "--topic '" + o.topic +
              "' is not a topic root; give one such as varnholt or lab-2/varnholt.";
        return std::nullopt;
    }
    if (!one("listen").empty()) o.listen = one("listen");
    if (given.count("folder")) o.folders = given["folder"];
    o.alertCommand = one("alertcommand");
    if (!o.alertCommand.empty() && !IsRunnable(o.alertCommand)) {
        why = "--alert-command " + o.alertCommand +
              " is not a program this user can run; give the path of an executable file (it is "
              "run without a shell, as PROGRAM EVENT BENCH UNIT TEXT).";
        return std::nullopt;
    }
    const struct {
        const char *key, *option, *range;
        double* value;
        double low, high;
    } numbers[] = {
        {"stallminutes", "--stall-minutes", "a number of minutes above 0", &o.stallMinutes, 0, 1e6},
        {"target", "--target", "a number of cycles, 1 or more", &o.plan.target, 0.999, 1e15},
        {"reliability", "--reliability", "a number between 0 and 1 (0.90 for 90 %)",
         &o.plan.reliability, 0, 1},
        {"confidence", "--confidence", "a number between 0 and 1 (0.90 for 90 %)",
         &o.plan.confidence, 0, 1},
        {"beta", "--beta", "a Weibull shape above 0, such as 2", &o.plan.beta, 0, 100}};
    for (const auto& n : numbers) {
        const std::string text = one(n.key);
        if (text.empty()) continue;
        if (!Number(text, *n.value) || !(*n.value > n.low && *n.value < n.high)) {
            why = std::string(n.option) + " '" + text + "' is not " + n.range +
                  "; see varnholt-board --help.";
            return std::nullopt;
        }
    }
    // The broker's options pass the bench's own checks of [Monitoring].
    IniFile ini;
    std::string broker = one("broker");
    if (broker.empty()) broker = "localhost";
    const size_t colon = broker.rfind(':');
    if (colon != std::string::npos && broker.find(']') == std::string::npos) {
        ini.Add("Monitoring", "MqttPort", broker.substr(colon + 1));
        broker.resize(colon);
    }
    ini.Add("Monitoring", "MqttHost", broker);
    ini.Add("Monitoring", "BenchName", "board");
    if (!one("cafile").empty()) ini.Add("Monitoring", "MqttCaFile", one("cafile"));
    if (!one("credentials").empty()) ini.Add("Monitoring", "MqttCredentials", one("credentials"));
    std::string problem;
    const auto settings = ReadMonitoringSettings(ini, problem);
    if (!settings) {
        why = AsOption(problem, fromFile);
        return std::nullopt;
    }
    o.broker = *settings;
    return o;
}

}  // namespace varnholt
