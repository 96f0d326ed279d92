#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace varnholt::testing {

// The simulated bench as a child process, started in a folder where it
// writes kestrane.ini, stopped with SIGTERM.
class SimProcess {
public:
    SimProcess(const std::string& folder, const std::vector<std::string>& options);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const { return ready_; }
    std::string transcriptPath;
    // Stops the simulator and says whether it ended by itself on SIGTERM.
    bool Stop();

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace varnholt::testing
