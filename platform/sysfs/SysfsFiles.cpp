#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral::sysfs {
namespace {

std::atomic<OpenCounter*> activeCounter{nullptr};

void noteOpen(const std::string& path) {
    if (OpenCounter* counter = activeCounter.load(std::memory_order_relaxed)) {
        counter->note(path);
    }
}

} // namespace

OpenCounter::OpenCounter() {
    activeCounter.store(this);
}

OpenCounter::~OpenCounter() {
    activeCounter.store(nullptr);
}

std::map<std::string, int> OpenCounter::opens() const {
    std::lock_guard guard(mutex_);
    return opens_;
}

void OpenCounter::clear() {
    std::lock_guard guard(mutex_);
    opens_.clear();
}

void OpenCounter::note(const std::string& path) {
    std::lock_guard guard(mutex_);
    ++opens_[path];
}

ReadResult read(const std::string& path) {
    noteOpen(path);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {std::nullopt, errno};
    }
    // Attributes are at most a page; anything longer is not an attribute worth reading.
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    int error = n < 0 ? errno : 0;
    ::close(fd);
    if (n < 0) {
        return {std::nullopt, error};
    }
    std::string text(buffer, static_cast<std::size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' ||
                             text.back() == '\0')) {
        text.pop_back();
    }
    return {std::move(text), 0};
}

std::optional<std::string> readText(const std::string& path) {
    return read(path).text;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::string_view digits = text;
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) {
        digits.remove_prefix(1);
    }
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> readInteger(const std::string& path) {
    auto text = readText(path);
    return text ? parseInteger(*text) : std::nullopt;
}

int write(const std::string& path, const std::string& text) {
    noteOpen(path);
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_TRUNC);
    if (fd < 0) {
        return errno;
    }
    ssize_t n;
    do {
        n = ::write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    int error = n < 0 ? errno : (static_cast<std::size_t>(n) == text.size() ? 0 : EIO);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isWritableByOwner(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0;
}

std::vector<std::string> list(const std::string& folder) {
    std::vector<std::string> names;
    noteOpen(folder);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return names;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> resolve(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}

} // namespace ventoral::sysfs
