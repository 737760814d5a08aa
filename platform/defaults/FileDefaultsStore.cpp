#include "platform/defaults/FileDefaultsStore.h"

#include "platform/files/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ventoral {
namespace {

constexpr const char* applicationFolder = "com.tesvane.VentoralController";

// Creates each missing folder of `path`, private to the user.
bool makeFolders(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string prefix = path.substr(0, i);
            if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/tmp";
}

} // namespace

bool isValidDefaultsKey(std::string_view key) {
    if (key.empty() || key.size() > 200 || key.front() == '.') {
        return false;
    }
    for (char c : key) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '_' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

FileDefaultsStore::FileDefaultsStore(std::string folder) : folder_(std::move(folder)) {}

std::string FileDefaultsStore::userFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    std::string base = (config && *config == '/') ? config : homeFolder() + "/.config";
    return base + "/" + applicationFolder;
}

std::optional<std::string> FileDefaultsStore::data(std::string_view key) const {
    if (!isValidDefaultsKey(key)) {
        return std::nullopt;
    }
    std::string path = folder_ + "/" + std::string(key);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool FileDefaultsStore::setData(std::string_view key, std::string_view bytes) {
    if (!isValidDefaultsKey(key) || !makeFolders(folder_)) {
        return false;
    }
    // Private to the user, like the folder.
    return writeFileAtomically(folder_ + "/" + std::string(key), bytes, 0600);
}

} // namespace ventoral
