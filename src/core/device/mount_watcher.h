#pragma once
// Notices removable drives coming and going by comparing the mount table
// below the system root between two polls (the formatter polls once a
// second).
//
// One owner thread.

#include <set>
#include <string>
#include <vector>

namespace korvante {

class MountWatcher final {
public:
    struct Change {
        bool inserted = false;  // else removed
        std::string root;       // mount point with a trailing "/"
    };

    // Takes the drives mounted now as known, without reporting them.
    explicit MountWatcher(std::string sysRoot);

    // The drives mounted or unmounted since the last poll, removals first.
    std::vector<Change> poll();

private:
    std::set<std::string> current() const;

    std::string m_sysRoot;
    std::set<std::string> m_known;
};

} // namespace korvante
