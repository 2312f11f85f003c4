#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include "platform/ErrorText.h"

extern char** environ;

namespace platform {

bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                          std::string* error) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own: the program outlives the station and is not hit
    // by the signals meant for the station's terminal.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0 && error != nullptr) *error = OsErrorText(rc);
    return rc == 0;
}

}  // namespace platform
