#pragma once

#include <string>
#include <vector>

namespace ventoral {

// The fans the running application has left to another program, each with why, where the
// verification report of another process finds them: a file in the user's runtime folder
// ($XDG_RUNTIME_DIR), gone when the list is empty or the user logs out.
class ContestedFansNote {
public:
    // `folder` empty: the user's runtime folder for this application, when there is one.
    explicit ContestedFansNote(std::string folder = {});

    void write(const std::vector<std::string>& fans) const;
    std::vector<std::string> read() const;

private:
    std::string path_;
};

} // namespace ventoral
