#include "core/helper/InstallLayout.h"

#include <filesystem>

namespace ventoral {

std::string InstallLayout::systemctl() const {
    namespace fs = std::filesystem;
    for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        const std::string path = prefix + candidate;
        std::error_code error;
        const auto status = fs::status(path, error);
        if (!error && fs::is_regular_file(status) &&
            (status.permissions() & (fs::perms::owner_exec | fs::perms::group_exec |
                                     fs::perms::others_exec)) != fs::perms::none) {
            return path;
        }
    }
    return prefix + "/usr/bin/systemctl";
}

} // namespace ventoral
