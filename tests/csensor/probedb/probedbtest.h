#pragma once
// Helpers of the probe database tests: folder snapshots, record texts, error-trace checks and
// a folder in which every write fails.

#include "csensor/probedb/mtessorprobedb.h"
#include "csensor/probedb/mtessorprobesystemdb.h"
#include "lintel/server/machine/mmachprobedb.h"
#include "lintel/server/machine/mmachprobesystemdb.h"
#include "msl/mstreams/stlbase64.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace probedbtest {

using vyx::test::PathExists;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;

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

// Each part must be found in exactly one error-trace line.
inline void ExpectErrTraces(const vyx::trace::TraceCapture& capture,
                            std::initializer_list<std::string> parts) {
    for (const std::string& part : parts)
        EXPECT_EQ(capture.CountErrTrace(part), 1) << part << "\n" << capture.Dump();
}

inline std::string Encoded(std::string bytes) {
    EXPECT_TRUE(stl_encode_base64(bytes));
    return bytes;
}

// Records as one comparable text each, so a mismatch shows the whole list.
inline std::string Text(const std::vector<ProbeTipRecord>& list) {
    std::string text;
    for (const ProbeTipRecord& r : list)
        text += stl_string_format("%u/%u %.17g %.17g %.17g %.17g\n", r.probe, r.tip, r.x, r.y, r.z,
                                  r.d);
    return text;
}

inline std::string Text(const std::vector<ProbesystemRecord>& list) {
    std::string text;
    for (const ProbesystemRecord& r : list)
        text += stl_string_format("%s/%u %.17g %.17g %.17g %.17g %.17g %.17g\n", r.name.c_str(),
                                  r.id, r.x, r.y, r.z, r.alpha, r.beta, r.gamma);
    return text;
}

// The sequence the golden files come from: defines, activations and deletes on an empty folder
// that leave two probesystems, the active one with three probes and an active tip.
inline void DefineGoldenMachine(const std::string& dir) {
    MTessorProbesystemDB systems(dir, "probesystemdb.ini");
    ASSERT_TRUE(systems.Open());
    ASSERT_TRUE(systems.DefineProbesystem({"R85Q", 1, 1.5, 0, -2, 0, 90, 0.1}));
    ASSERT_TRUE(systems.DefineProbesystem({"R85Q", 2}));
    ASSERT_TRUE(systems.DefineProbesystem({"A:B", 3, 0, 0, 10}));
    ASSERT_TRUE(systems.SetActiveProbesystem("A:B", 3));
    ASSERT_TRUE(systems.SetActiveProbesystem("R85Q", 1));
    ASSERT_TRUE(systems.DeleteProbesystem("R85Q", 2));

    MTessorProbeDB probes;
    ASSERT_TRUE(probes.Open(dir + vyx::test::kSeparator + systems.GetActiveProbeIniName()));
    ASSERT_TRUE(probes.DefineProbe({2, 1, 1, 2, 3, 4}));
    ASSERT_TRUE(probes.DefineProbe({1, 1, 0.5, 0, 0, 2}));
    ASSERT_TRUE(probes.DefineProbe({1, 2}));
    ASSERT_TRUE(probes.DefineProbe({1000, 200, -1e-5, 0, 0, 0.125}));
    ASSERT_TRUE(probes.SetActiveProbe(1, 2));
    ASSERT_TRUE(probes.DeleteProbe(1, 2));
    ASSERT_TRUE(probes.SetActiveProbe(2, 1));
    ASSERT_TRUE(probes.SetComponentData("[Geometry]\nx0=1\n[Camera]\nzoom=4\n", 2, 1));
}

} // namespace probedbtest
