#include "platform/process/DesktopApplications.h"

#include "platform/process/ProcfsProcessTable.h"
#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ventoral {
namespace {

std::vector<std::string> splitList(const char* text, const std::string& fallback) {
    std::string value = text && *text ? text : fallback;
    std::vector<std::string> parts;
    std::stringstream in(value);
    for (std::string part; std::getline(in, part, ':');) {
        if (!part.empty() && part.front() == '/') {
            parts.push_back(part);
        }
    }
    return parts;
}

// The first word of an Exec line, past "env" and its assignments, with quotes removed.
std::optional<std::string> programOfExec(const std::string& exec) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    std::size_t i = 0;
    if (i < words.size() && (words[i] == "env" || words[i] == "/usr/bin/env")) {
        ++i;
        while (i < words.size() && words[i].find('=') != std::string::npos) {
            ++i;
        }
    }
    if (i >= words.size() || words[i].empty()) {
        return std::nullopt;
    }
    return words[i];
}

bool isTrue(const std::string& value) {
    return value == "true";
}

std::string localeLanguage(const std::string& locale, bool withCountry) {
    std::string tag = locale.substr(0, locale.find_first_of(".@"));
    return withCountry ? tag : tag.substr(0, tag.find('_'));
}

} // namespace

std::string bundleOf(const std::string& program) {
    static const char* const roots[] = {
        "/opt/",       "/usr/lib/",       "/usr/lib64/",      "/usr/libexec/",
        "/usr/share/", "/usr/local/lib/", "/usr/local/share/"};
    for (const char* root : roots) {
        const std::string prefix = root;
        if (program.rfind(prefix, 0) != 0) {
            continue;
        }
        std::string rest = program.substr(prefix.size());
        std::string first = rest.substr(0, rest.find('/'));
        std::string folder = prefix + first;
        if (first.find("-linux-gnu") != std::string::npos) { // a multiarch folder
            std::string inner = rest.substr(first.size() + 1);
            folder += "/" + inner.substr(0, inner.find('/'));
            rest = inner;
        }
        if (rest.find('/') != std::string::npos) {
            return folder;
        }
    }
    return program;
}

std::optional<DesktopEntry> parseDesktopEntry(
    const std::string& text, const std::string& locale,
    const std::function<std::optional<std::string>(const std::string&)>& findProgram) {
    std::map<std::string, std::string> values;
    bool inMainGroup = false;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        auto eq = line.find('=');
        if (!inMainGroup || eq == std::string::npos) {
            continue;
        }
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t") + 1);
            return s;
        };
        values.emplace(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
    auto value = [&](const std::string& key) -> std::string {
        auto found = values.find(key);
        return found == values.end() ? "" : found->second;
    };
    if (value("Type") != "Application" || isTrue(value("Hidden")) || isTrue(value("NoDisplay"))) {
        return std::nullopt;
    }
    auto program = programOfExec(value("Exec"));
    if (!program) {
        return std::nullopt;
    }
    auto path = findProgram(*program);
    if (!path) {
        return std::nullopt;
    }
    std::string name;
    for (const std::string& key :
         {"Name[" + localeLanguage(locale, true) + "]",
          "Name[" + localeLanguage(locale, false) + "]", std::string("Name")}) {
        if (!(name = value(key)).empty()) {
            break;
        }
    }
    if (name.empty()) {
        name = path->substr(path->rfind('/') + 1);
    }
    return DesktopEntry{name, bundleOf(*path)};
}

DesktopApplications::DesktopApplications(Settings settings) : settings_(std::move(settings)) {}

DesktopApplications::Settings
DesktopApplications::settingsFromEnvironment(const std::string& procRoot, uid_t user) {
    const char* home = std::getenv("HOME");
    std::vector<std::string> folders;
    for (const auto& folder :
         splitList(std::getenv("XDG_DATA_HOME"), home ? std::string(home) + "/.local/share" : "")) {
        folders.push_back(folder + "/applications");
    }
    for (const auto& folder :
         splitList(std::getenv("XDG_DATA_DIRS"), "/usr/local/share:/usr/share")) {
        folders.push_back(folder + "/applications");
    }
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* v = std::getenv(name); v && *v) {
            locale = v;
            break;
        }
    }
    return {folders, splitList(std::getenv("PATH"), "/usr/local/bin:/usr/bin:/bin"), locale,
            procRoot, user};
}

void DesktopApplications::reloadIfChanged() {
    std::vector<timespec> times;
    for (const std::string& folder : settings_.applicationFolders) {
        struct stat st {};
        times.push_back(::stat(folder.c_str(), &st) == 0 ? st.st_mtim : timespec{});
    }
    auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    if (loaded_ &&
        std::equal(times.begin(), times.end(), folderTimes_.begin(), folderTimes_.end(), same)) {
        return;
    }
    auto findProgram = [this](const std::string& program) -> std::optional<std::string> {
        if (program.front() == '/') {
            return sysfs::resolve(program);
        }
        if (program.find('/') != std::string::npos) {
            return std::nullopt;
        }
        for (const std::string& folder : settings_.programPath) {
            const std::string candidate = folder + "/" + program;
            if (::access(candidate.c_str(), X_OK) == 0) {
                return sysfs::resolve(candidate);
            }
        }
        return std::nullopt;
    };
    std::vector<DesktopEntry> entries;
    std::set<std::string> seenFiles, seenBundles;
    for (const std::string& folder : settings_.applicationFolders) {
        for (const std::string& file : sysfs::list(folder)) {
            // A user's entry hides the system's of the same name.
            if (file.size() < 8 || file.compare(file.size() - 8, 8, ".desktop") != 0 ||
                !seenFiles.insert(file).second) {
                continue;
            }
            std::ifstream stream(folder + "/" + file);
            std::stringstream text;
            text << stream.rdbuf();
            auto entry = parseDesktopEntry(text.str(), settings_.locale, findProgram);
            if (entry && seenBundles.insert(entry->bundle).second) {
                entries.push_back(std::move(*entry));
            }
        }
    }
    entries_ = std::move(entries);
    folderTimes_ = std::move(times);
    loaded_ = true;
}

std::vector<RunningApplication> DesktopApplications::list() {
    std::lock_guard guard(mutex_);
    reloadIfChanged();
    ProcfsProcessTable processes(settings_.procRoot, settings_.user, 100);
    std::set<std::string> programs;
    for (std::int32_t pid : processes.listProcessIds(SIZE_MAX)) {
        if (auto path = processes.executablePath(pid)) {
            programs.insert(*path);
        }
    }
    std::vector<RunningApplication> running;
    for (const DesktopEntry& entry : entries_) {
        // Programs inside the bundle sort right after its own path (with siblings such as
        // "/opt/x-y" possibly between), so only that stretch is looked at.
        bool inside = false;
        for (auto it = programs.lower_bound(entry.bundle);
             !inside && it != programs.end() && it->rfind(entry.bundle, 0) == 0; ++it) {
            inside = it->size() == entry.bundle.size() || (*it)[entry.bundle.size()] == '/';
        }
        if (inside) {
            running.push_back({entry.bundle, entry.name});
        }
    }
    return running;
}

} // namespace ventoral
