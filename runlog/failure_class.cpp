#include "runlog/failure_class.h"

namespace varnholt {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The supply's steps: whatever the supply answered, the shutter did not fail.
constexpr std::string_view kSupplySteps[] = {
    "PowerOn Error: ", "PowerOff Error: ", "PowerSupply Error: "};

}  // namespace

bool IsLineFault(std::string_view error) {
    // The step's own prefix ("OpenShutter Error: ") comes first.
    const size_t colon = error.find(": ");
    if (colon != std::string_view::npos && !StartsWith(error, "-1 ")) {
        error.remove_prefix(colon + 2);
    }
    constexpr std::string_view lead = "-1 Serial port ";
    if (!StartsWith(error, lead)) return false;
    size_t pos = lead.size();
    const size_t digits = pos;
    while (pos < error.size() && error[pos] >= '0' && error[pos] <= '9') ++pos;
    if (pos == digits || pos + 2 > error.size() || error.substr(pos, 2) != " (") return false;
    return EndsWith(error, ") was disconnected") ||
           EndsWith(error, ") is in use by another program");
}

FailureClass ClassOfFailure(std::string_view error) {
    for (const std::string_view step : kSupplySteps) {
        if (StartsWith(error, step)) return FailureClass::Bench;
    }
    return IsLineFault(error) ? FailureClass::Bench : FailureClass::Shutter;
}

const char* FailureClassName(FailureClass kind) {
    return kind == FailureClass::Bench ? "bench" : "shutter";
}

}  // namespace varnholt
