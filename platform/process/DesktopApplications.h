#pragma once

#include "core/power/PowerPlatform.h"

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ventoral {

// An application as its desktop entry describes it.
struct DesktopEntry {
    std::string name;
    std::string bundle; // the application's own folder, or its program file
    friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;
};

// Parses one desktop entry; none for entries that are not shown applications or whose program
// cannot be found. `findProgram` turns the Exec program into a canonical absolute path.
std::optional<DesktopEntry>
parseDesktopEntry(const std::string& text, const std::string& locale,
                  const std::function<std::optional<std::string>(const std::string&)>& findProgram);

// The folder that stands for an application installed at `program`: its folder under /opt or
// a library or data folder (/usr/lib/x, /usr/share/x, ...), else the program file itself.
std::string bundleOf(const std::string& program);

// Running applications: desktop entries (user folder first) whose bundle holds the program of
// one of the user's processes. Entries are re-read only when a folder changes.
class DesktopApplications final : public RunningApplications {
public:
    struct Settings {
        std::vector<std::string> applicationFolders;
        std::vector<std::string> programPath; // PATH, to find programs named without a folder
        std::string locale;                   // for example "de_DE.UTF-8"
        std::string procRoot;
        uid_t user;
    };
    explicit DesktopApplications(Settings settings);
    static Settings settingsFromEnvironment(const std::string& procRoot, uid_t user);

    std::vector<RunningApplication> list() override;

private:
    void reloadIfChanged();

    Settings settings_;
    std::mutex mutex_;
    std::vector<timespec> folderTimes_;
    std::vector<DesktopEntry> entries_;
    bool loaded_ = false;
};

} // namespace ventoral
