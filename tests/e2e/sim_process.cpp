#include "tests/e2e/sim_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace varnholt::testing {

SimProcess::SimProcess(const std::string& folder, const std::vector<std::string>& options) {
    transcriptPath = folder + "/sim-transcript.txt";
    std::vector<std::string> args = {VARNHOLT_SIM_PATH, "--dir", folder, "--transcript",
                                     transcriptPath};
    args.insert(args.end(), options.begin(), options.end());
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    FILE* from = fdopen(out[0], "r");
    char line[512];
    while (from != nullptr && fgets(line, sizeof line, from) != nullptr) {
        if (std::string(line) == "READY\n") {
            ready_ = true;
            break;
        }
    }
    if (from != nullptr) fclose(from);
}

bool SimProcess::Stop() {
    if (pid_ <= 0) return false;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return false;
}

SimProcess::~SimProcess() { Stop(); }

}  // namespace varnholt::testing
