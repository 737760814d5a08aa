#include "platform/defaults/FileDefaultsStore.h"

#include "platform/files/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
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

FileDefaultsStore::FileDefaultsStore(std::string folder) : folder_(std::move(folder)) {
    removeStaleTemporaries();
}

std::string FileDefaultsStore::userFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    std::string base = (config && *config == '/') ? config : homeFolder() + "/.config";
    return base + "/" + applicationFolder;
}

FileDefaultsStore::Located FileDefaultsStore::locate(std::string_view key) const {
    const std::string path = folder_ + "/" + std::string(key);
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
        if (errno == ENOENT) {
            return {path, {}};
        }
        return {path, std::string("cannot be examined: ") + std::strerror(errno)};
    }
    if (!S_ISLNK(link.st_mode)) {
        return {path, {}};
    }
    // A link into the user's own files (a dotfiles folder) is followed; one that leads to
    // somebody else's file, or nowhere, is not.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        return {path, "is a link to a file that does not exist"};
    }
    std::string target(resolved);
    std::free(resolved);
    struct stat info {};
    const uid_t user = ::geteuid();
    if (link.st_uid != user || ::stat(target.c_str(), &info) != 0 || info.st_uid != user) {
        return {path, "is a link to a file that is not yours"};
    }
    return {target, {}};
}

StoredValue FileDefaultsStore::read(std::string_view key) const {
    if (!isValidDefaultsKey(key)) {
        return {};
    }
    const Located located = locate(key);
    if (located.refusal) {
        return {StoredValue::State::unusable, {}, *located.refusal};
    }
    // Not blocking: a FIFO in the document's place must not hang start-up.
    const int fd = ::open(located.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {};
        }
        return {StoredValue::State::unusable,
                {},
                std::string("cannot be read: ") + std::strerror(errno)};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {StoredValue::State::unusable, {}, "is not a regular file"};
    }
    if (info.st_size > static_cast<off_t>(maximumDocumentBytes)) {
        ::close(fd);
        return {StoredValue::State::unusable, {}, "is larger than 1 MB"};
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return {StoredValue::State::unusable,
                    {},
                    std::string("cannot be read: ") + std::strerror(error)};
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maximumDocumentBytes) { // it grew while being read
            ::close(fd);
            return {StoredValue::State::unusable, {}, "is larger than 1 MB"};
        }
    }
    ::close(fd);
    return {StoredValue::State::present, std::move(bytes), {}};
}

bool FileDefaultsStore::setData(std::string_view key, std::string_view bytes) {
    if (!isValidDefaultsKey(key) || !makeFolders(folder_)) {
        return false;
    }
    // Through a link into the user's own files the target is replaced; any other link is
    // replaced by the document itself.
    const Located located = locate(key);
    const std::string path = located.refusal ? folder_ + "/" + std::string(key) : located.path;
    // Private to the user, like the folder.
    return writeFileAtomically(path, bytes, 0600);
}

std::optional<std::string> FileDefaultsStore::setAside(std::string_view key) {
    if (!isValidDefaultsKey(key)) {
        return std::nullopt;
    }
    const std::string from = folder_ + "/" + std::string(key);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    std::string name = std::string(key) + ".unusable-" + stamp;
    for (int attempt = 2; ::access((folder_ + "/" + name).c_str(), F_OK) == 0; ++attempt) {
        name = std::string(key) + ".unusable-" + stamp + "-" + std::to_string(attempt);
    }
    // A link moves as a link: what it points to stays where it is.
    if (::rename(from.c_str(), (folder_ + "/" + name).c_str()) != 0) {
        return std::nullopt;
    }
    return name;
}

void FileDefaultsStore::removeStaleTemporaries() const {
    DIR* folder = ::opendir(folder_.c_str());
    if (!folder) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        const auto mark = name.rfind(atomicTemporarySuffix);
        const bool ours = mark != std::string::npos && mark > 0 &&
                          isValidDefaultsKey(name.substr(0, mark)) &&
                          name.size() == mark + std::strlen(atomicTemporarySuffix) + 6;
        struct stat info {};
        // Left by a write that was interrupted; a write under way now is seconds young.
        if (ours && ::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && now - info.st_mtime > 60) {
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
        }
    }
    ::closedir(folder);
}

} // namespace ventoral
