#include "platform/system/ContestedFansNote.h"

#include "platform/files/AtomicFile.h"
#include "platform/sysfs/SysfsFiles.h"

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

std::string userRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime == '/' ? std::string(runtime) + "/com.tesvane.VentoralController"
                                      : std::string();
}

} // namespace

ContestedFansNote::ContestedFansNote(std::string folder) {
    if (folder.empty()) {
        folder = userRuntimeFolder();
    }
    path_ = folder.empty() ? std::string() : folder + "/contested-fans";
}

void ContestedFansNote::write(const std::vector<std::string>& fans) const {
    if (path_.empty()) {
        return;
    }
    if (fans.empty()) {
        ::unlink(path_.c_str());
        return;
    }
    ::mkdir(path_.substr(0, path_.rfind('/')).c_str(), 0700);
    std::string text;
    for (const std::string& fan : fans) {
        text += fan + "\n";
    }
    writeFileAtomically(path_, text, 0600);
}

std::vector<std::string> ContestedFansNote::read() const {
    std::vector<std::string> fans;
    if (path_.empty()) {
        return fans;
    }
    std::istringstream lines(sysfs::readText(path_).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            fans.push_back(line);
        }
    }
    return fans;
}

} // namespace ventoral
