#include "platform/process/ProcessRunner.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ventoral {

ProcessOutcome runProgram(const std::string& absolutePath,
                          const std::vector<std::string>& arguments, ProcessOutput output) {
    if (absolutePath.empty() || absolutePath.front() != '/') {
        return {};
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(absolutePath.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    char* envp[] = {nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == ProcessOutput::discard) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    int error = posix_spawn(&pid, absolutePath.c_str(), &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return {};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return {true, -1};
        }
    }
    return {true, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace ventoral
