// Starting and ending the notify command on POSIX systems: posix_spawn, no
// shell, so a ';' or '$(...)' in an argument stays text.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "monitoring/notifier.h"

extern char** environ;

namespace varnholt {

ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // A group of its own: ending it ends whatever it started (a mail, a curl).
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    // Nothing of ours but the arguments: not the broker's socket (the bench
    // would stay "online" while it lives), not our output (a talkative
    // command must not fill it), not the serial lines.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int failed =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    return failed != 0 ? kNoChild : pid;
}

bool ProgramEnded(ChildProcess child, int& exitCode) {
    int status = 0;
    if (::waitpid(static_cast<pid_t>(child), &status, WNOHANG) == 0) return false;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

bool GroupRuns(ChildProcess child) { return ::kill(-static_cast<pid_t>(child), 0) == 0; }

void EndGroup(ChildProcess child) {
    const auto group = -static_cast<pid_t>(child);
    ::kill(group, SIGTERM);
    for (int i = 0; i < 20 && ::kill(group, 0) == 0; ++i) {
        int status = 0;
        ::waitpid(static_cast<pid_t>(child), &status, WNOHANG);
        ::usleep(50000);
    }
    ::kill(group, SIGKILL);
    int status = 0;
    ::waitpid(static_cast<pid_t>(child), &status, WNOHANG);
}

void KeepFromChildren(int fd) {
    const auto keep = [](int d) {
        const int flags = ::fcntl(d, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) ::fcntl(d, F_SETFD, flags | FD_CLOEXEC);
    };
    if (fd >= 0) return keep(fd);
    // Linux lists a process's descriptors here; elsewhere there is nothing
    // to sweep and the spawn's closefrom is the guard.
    DIR* all = ::opendir("/proc/self/fd");
    if (all == nullptr) return;
    const int own = ::dirfd(all);
    while (const dirent* entry = ::readdir(all)) {
        char* end = nullptr;
        const long d = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && d >= 3 && d != own) keep(static_cast<int>(d));
    }
    ::closedir(all);
}

void KeepFromChildren(std::FILE* file) {
    if (file != nullptr) KeepFromChildren(::fileno(file));
}

}  // namespace varnholt
