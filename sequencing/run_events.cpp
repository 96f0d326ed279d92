#include "sequencing/run_events.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "instruments/line_exchange.h"

namespace varnholt {
namespace {

std::vector<RunObserver*>& Observers() {
    static std::vector<RunObserver*> observers;
    return observers;
}

// An observer may remove itself (or another) while being told: tell a copy.
template <typename Call>
void TellAll(Call call) {
    const std::vector<RunObserver*> copy = Observers();
    for (RunObserver* observer : copy) {
        const auto& now = Observers();
        if (std::find(now.begin(), now.end(), observer) != now.end()) call(*observer);
    }
}

std::optional<RunStarted>& Current() {
    static std::optional<RunStarted> current;
    return current;
}

void OnLine(bool back, int16_t portNumber, const std::string& device) {
    LineChanged event;
    event.back = back;
    event.device = device;
    event.text = "Serial port " + std::to_string(portNumber) + " (" + device + ") " +
                 (back ? "is back" : "was disconnected");
    TellLineChanged(event);
}

}  // namespace

void AddRunObserver(RunObserver* observer) {
    WatchLines(OnLine);
    auto& all = Observers();
    if (std::find(all.begin(), all.end(), observer) == all.end()) all.push_back(observer);
}

void RemoveRunObserver(RunObserver* observer) {
    auto& all = Observers();
    all.erase(std::remove(all.begin(), all.end(), observer), all.end());
}

bool RunInProgress(RunStarted& run) {
    if (!Current()) return false;
    run = *Current();
    return true;
}

void TellRunStarted(const RunStarted& e) {
    Current() = e;
    TellAll([&](RunObserver& o) { o.OnRunStarted(e); });
}
void TellRowWritten(const RowWritten& e) {
    TellAll([&](RunObserver& o) { o.OnRowWritten(e); });
}
void TellRunEnded(const RunEnded& e) {
    Current().reset();
    TellAll([&](RunObserver& o) { o.OnRunEnded(e); });
}
void TellLineChanged(const LineChanged& e) {
    TellAll([&](RunObserver& o) { o.OnLineChanged(e); });
}

}  // namespace varnholt
