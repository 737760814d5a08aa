#include "tests/support/ChildProcess.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ventoral::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> environmentWith(const EnvironmentChanges& set) {
    std::map<std::string, std::string> values;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) {
            values[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : set) {
        if (value.empty()) {
            values.erase(name);
        } else {
            values[name] = value;
        }
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : values) {
        out.push_back(name + "=" + value);
    }
    return out;
}

pid_t spawn(const std::vector<std::string>& argv, const EnvironmentChanges& set,
            const std::string& outPath, const std::string& errPath) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    auto env = environmentWith(set);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::optional<int> waitFor(pid_t pid, double timeoutSeconds) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string scratchName(const char* what) {
    static std::atomic<int> counter{0};
    return (fs::temp_directory_path() /
            ("ventoral-" + std::string(what) + "-" + std::to_string(getpid()) + "-" +
             std::to_string(counter++)))
        .string();
}

} // namespace

CommandResult runCommand(const std::vector<std::string>& argv, const EnvironmentChanges& set,
                         double timeoutSeconds) {
    TemporaryFolder folder;
    const std::string out = folder.path() + "/out";
    const std::string err = folder.path() + "/err";
    pid_t pid = spawn(argv, set, out, err);
    if (pid < 0) {
        return {-1, "", "could not start " + argv[0]};
    }
    auto status = waitFor(pid, timeoutSeconds);
    if (!status) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return {status.value_or(-1), readFile(out), readFile(err)};
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const EnvironmentChanges& set) {
    const std::string scratch = scratchName("bg");
    outPath_ = scratch + ".out";
    errPath_ = scratch + ".err";
    pid_ = spawn(argv, set, outPath_, errPath_);
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0 && !status_) {
        stop(SIGKILL);
    }
    std::error_code ignored;
    fs::remove(outPath_, ignored);
    fs::remove(errPath_, ignored);
}

bool BackgroundProcess::isRunning() {
    if (pid_ <= 0 || status_) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int BackgroundProcess::stop(int signal, double timeoutSeconds) {
    if (status_) {
        return *status_;
    }
    kill(pid_, signal);
    auto status = waitFor(pid_, timeoutSeconds);
    if (!status) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status = -1;
    }
    status_ = status;
    return *status_;
}

std::string BackgroundProcess::output() const {
    return readFile(outPath_);
}

std::string BackgroundProcess::errorOutput() const {
    return readFile(errPath_);
}

TemporaryFolder::TemporaryFolder() : path_(scratchName("tmp")) {
    fs::create_directories(path_);
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeScript(const std::string& path, const std::string& body, mode_t mode) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), mode);
}

} // namespace ventoral::testing
