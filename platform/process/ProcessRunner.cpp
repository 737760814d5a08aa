#include "platform/process/ProcessRunner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ventoral {
namespace {

std::vector<char*> argumentVector(const std::string& program,
                                  const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ends a child that will not end by itself: a termination request, a short grace, then a kill.
void endChild(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 20; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A child whose standard output (and, when asked, standard error) is the write end of a
// pipe; standard input is the null device. The read end comes back in `readFd`.
struct PipedChild {
    pid_t pid = -1;
    int readFd = -1;
    std::string error;
};

PipedChild spawnPiped(const std::string& absolutePath, const std::vector<std::string>& arguments,
                      bool errorsToo) {
    PipedChild child;
    if (absolutePath.empty() || absolutePath.front() != '/') {
        child.error = "not an absolute path: " + absolutePath;
        return child;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        child.error = std::strerror(errno);
        return child;
    }
    auto argv = argumentVector(absolutePath, arguments);
    char* envp[] = {nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (errorsToo) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    int error = posix_spawn(&pid, absolutePath.c_str(), &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (error != 0) {
        close(pipeFds[0]);
        child.error = absolutePath + ": " + std::strerror(error);
        return child;
    }
    child.pid = pid;
    child.readFd = pipeFds[0];
    return child;
}

} // namespace

ProcessOutcome runProgram(const std::string& absolutePath,
                          const std::vector<std::string>& arguments, ProcessOutput output) {
    if (absolutePath.empty() || absolutePath.front() != '/') {
        return {};
    }
    auto argv = argumentVector(absolutePath, arguments);
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
    return {true, waitForExit(pid)};
}

BoundedProcessOutcome runProgramBounded(const std::string& absolutePath,
                                        const std::vector<std::string>& arguments,
                                        double timeoutSeconds, std::size_t outputLimit) {
    BoundedProcessOutcome outcome;
    PipedChild child = spawnPiped(absolutePath, arguments, false);
    if (child.pid < 0) {
        return outcome;
    }
    const pid_t pid = child.pid;
    outcome.started = true;

    // Read while it runs, so a large report cannot fill the pipe and stall the child.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            break;
        }
        pollfd fd{child.readFd, POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        ssize_t n = read(child.readFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // end of output: the child closed it, normally by exiting
        }
        outcome.output.append(buffer, static_cast<std::size_t>(n));
        if (outcome.output.size() > outputLimit) {
            outcome.outputTooLarge = true;
            break;
        }
    }
    close(child.readFd);
    if (outcome.timedOut || outcome.outputTooLarge) {
        endChild(pid);
        return outcome;
    }
    // The output is closed; give the child what is left of the time to exit.
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return outcome;
        }
        if (done < 0 && errno != EINTR) {
            return outcome;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            outcome.timedOut = true;
            endChild(pid);
            return outcome;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

CapturedProcessOutcome runProgramCapturingOutput(const std::string& absolutePath,
                                                 const std::vector<std::string>& arguments) {
    CapturedProcessOutcome outcome;
    PipedChild child = spawnPiped(absolutePath, arguments, true);
    if (child.pid < 0) {
        outcome.launchError = child.error;
        return outcome;
    }
    const pid_t pid = child.pid;
    outcome.started = true;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(child.readFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(child.readFd);
    outcome.exitStatus = waitForExit(pid);
    return outcome;
}

} // namespace ventoral
