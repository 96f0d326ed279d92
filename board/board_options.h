#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board/lot_watch.h"
#include "settings/monitoring_settings.h"

namespace varnholt {

struct BoardOptions {
    MonitoringSettings broker;       // host, port, CA file, credentials, checked as a bench's
    std::string topic = "varnholt";  // the root; the board reads ROOT/#
    std::string listen = "127.0.0.1:8080";
    std::vector<std::string> folders;
    std::string alertCommand;
    double stallMinutes = 10;
    BoardPlan plan;
};

// The command line, and the [Board] keys of the file --config names (the
// command line wins). nullopt with a sentence in why (help: the text of
// --help, to print and end well).
std::optional<BoardOptions> ParseBoardOptions(const std::vector<std::string>& args,
                                              std::string& why, bool& help);

extern const char kBoardHelp[];

}  // namespace varnholt
