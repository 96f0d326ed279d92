#pragma once
// The simulated SCPI power supply: what it answers to each command of a line,
// its output state and its error queue.

#include <string>
#include <vector>

#include "sim/pty_line.h"
#include "sim/sim_options.h"

namespace varnholt::sim {

class SupplyModel {
public:
    SupplyModel(const Options& o, Transcript& t) : o_(o), t_(t) {}
    // One command of a line (split at ';'): its reply, empty when none.
    std::string Command(const std::string& raw);

    bool outputOn = false;
    long powerEpoch = 0;  // counts output switches: a move aborted by a cut stays silent

private:
    void SetOutput(bool on);

    const Options& o_;
    Transcript& t_;
    std::vector<std::string> errors_;
    int errorQueries_ = 0;
};

}  // namespace varnholt::sim
