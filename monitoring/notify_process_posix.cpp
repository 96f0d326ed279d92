// Starting and ending the notify command on POSIX systems: posix_spawn, no
// shell, so a ';' or '$(...)' in an argument stays text.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "monitoring/notifier.h"

extern char** environ;

namespace varnholt {

ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // A group of its own: ending it ends whatever it started (a mail, a curl).
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    return failed != 0 ? kNoChild : pid;
}

bool ProgramEnded(ChildProcess child) {
    int status = 0;
    return ::waitpid(static_cast<pid_t>(child), &status, WNOHANG) != 0;
}

void KillProgram(ChildProcess child) {
    ::kill(-static_cast<pid_t>(child), SIGKILL);
    int status = 0;
    ::waitpid(static_cast<pid_t>(child), &status, 0);
}

}  // namespace varnholt
