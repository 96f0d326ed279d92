#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnholt {

// The operator's NotifyCommand: one program, run without a shell with the
// arguments EVENT LOG COUNT TEXT, on a thread of its own so that it never
// delays the test; at most once a minute for each event kind (the calls due
// inside that minute are counted, and the count goes to the next call as a
// fifth argument), and killed after 10 s. When the run names its unit, the
// unit is the sixth argument and the fifth is always given (0: none held).
// A started program: its process (POSIX: its PID, leading its own group).
using ChildProcess = std::intptr_t;
constexpr ChildProcess kNoChild = -1;

// How a notifier's sentences name the command and the setting to check.
struct NotifierWords {
    std::string command = "varnholt: NotifyCommand";
    std::string setting = "NotifyCommand in [Monitoring] of kestrane.ini";
};

class Notifier {
public:
    // trouble, when given, gets a short line for the window when a call
    // failed (from the notifier's thread).
    explicit Notifier(std::string program,
                      std::chrono::milliseconds oncePer = std::chrono::minutes(1),
                      std::chrono::milliseconds longestRun = std::chrono::seconds(10),
                      std::function<void(const std::string&)> trouble = nullptr,
                      NotifierWords words = NotifierWords());
    // Ends whatever the command still runs (its whole process group): it
    // never outlives the program.
    ~Notifier();
    void Notify(const std::string& event, const std::string& log, int64_t count,
                const std::string& text, const std::string& unit = std::string());
    // A call with these arguments as they stand, the first naming its kind.
    void Launch(std::vector<std::string> arguments);

private:
    struct Call {
        std::vector<std::string> arguments;
        std::string unit;
    };
    void Run();
    void Start(Call call);
    void Reap();

    std::string program_;
    std::chrono::milliseconds oncePer_, longestRun_;
    std::function<void(const std::string&)> trouble_;
    NotifierWords words_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Call> calls_;
    // The notifier's thread alone touches these.
    struct Kind {
        std::chrono::steady_clock::time_point last;
        bool called = false;
        int64_t held = 0;  // calls due since the last one, not made
    };
    std::map<std::string, Kind> kinds_;
    struct Running {
        ChildProcess child;
        std::chrono::steady_clock::time_point started;
        std::string event;
        bool leaderEnded = false;
    };
    std::vector<Running> running_;
    bool stopping_ = false;
    std::thread thread_;
};

// The platform's part: start a program with these arguments (no shell), in
// a process group of its own, with nothing of ours but its arguments: input
// from the null device, output to it, no other descriptor or handle. See
// whether it ended (reaping it; exitCode gets its status, -1 for a signal),
// whether anything of its group still runs (false: the child is let go for
// good), and end the whole group: asked first, then killed after a second.
ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& arguments);
bool ProgramEnded(ChildProcess child, int& exitCode);
bool GroupRuns(ChildProcess child);
void EndGroup(ChildProcess child);

// Descriptors a program started by any means would inherit: libraries open
// some without close-on-exec (libmosquitto's sockets, spdlog's trace file).
// Marks fd close-on-exec, or, given -1, every descriptor from 3 up. On
// Windows handles are never inherited (CreateProcessW is told so): nothing
// to do.
void KeepFromChildren(int fd = -1);
void KeepFromChildren(std::FILE* file);

}  // namespace varnholt
