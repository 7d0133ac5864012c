#pragma once
// Helpers of the probe database tests: folder snapshots, record comparison and a folder in
// which every write fails.

#include "lintel/server/machine/mmachprobedb.h"
#include "lintel/server/machine/mmachprobesystemdb.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace probedbtest {

// Every plain file directly in `dir` (dot files left out) with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name[0] != '.')
            files[name] = vyx::test::ReadFileBytes(entry.path().string());
    }
    return files;
}

// The folder is replaced by a plain file while the object lives, so that every write below
// it fails for root too (permissions would not stop root).
class BlockedFolder {
public:
    explicit BlockedFolder(std::string dir) : dir(std::move(dir)), aside(this->dir + ".aside") {
        std::filesystem::rename(this->dir, aside);
        EXPECT_TRUE(vyx::test::WriteFileBytes(this->dir, "not a folder"));
    }
    ~BlockedFolder() {
        std::filesystem::remove(dir);
        std::filesystem::rename(aside, dir);
    }

private:
    std::string dir;
    std::string aside;
};

inline ProbeTipRecord Tip(uint32_t probe, uint32_t tip, double x = 0, double y = 0, double z = 0,
                          double d = 0) {
    return ProbeTipRecord{probe, tip, x, y, z, d};
}

inline ProbesystemRecord System(const std::string& name, uint32_t id, double x = 0, double y = 0,
                                double z = 0, double alpha = 0, double beta = 0, double gamma = 0) {
    return ProbesystemRecord{name, id, x, y, z, alpha, beta, gamma};
}

// Records as one comparable text each, so a mismatch shows the whole list.
inline std::string Text(const std::vector<ProbeTipRecord>& list) {
    std::string text;
    char line[200];
    for (const ProbeTipRecord& r : list) {
        std::snprintf(line, sizeof line, "%u/%u %.17g %.17g %.17g %.17g\n", r.probe, r.tip, r.x,
                      r.y, r.z, r.d);
        text += line;
    }
    return text;
}

inline std::string Text(const std::vector<ProbesystemRecord>& list) {
    std::string text;
    char line[300];
    for (const ProbesystemRecord& r : list) {
        std::snprintf(line, sizeof line, "%s/%u %.17g %.17g %.17g %.17g %.17g %.17g\n",
                      r.name.c_str(), r.id, r.x, r.y, r.z, r.alpha, r.beta, r.gamma);
        text += line;
    }
    return text;
}

} // namespace probedbtest
