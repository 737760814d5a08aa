#include "platform/files/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ventoral {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         std::string* error) {
    const std::string pattern = path + atomicTemporarySuffix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkostemp creates the file exclusively, so a planted link is never followed.
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error) {
            *error = std::strerror(errno);
        }
        return false;
    }
    bool ok = writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(name.data(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(name.data());
        if (error) {
            *error = std::strerror(saved);
        }
        return false;
    }
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace ventoral
