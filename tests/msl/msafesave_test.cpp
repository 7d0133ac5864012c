// A safe save killed at any moment leaves the old file or the new one, never a mix.
#include "msl/mfileio/mfastfile.h"
#include "tests/msl/fileio_testutil.h"
#include "tests/support/childprocess.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

namespace {

// Two contents that differ in every byte and whose bytes depend on their position, so that
// any mix or shift of the two at any granularity matches neither.
std::string Content(std::size_t size, unsigned salt) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + (i >> 13) * 7 + salt) & 0xff);
    return bytes;
}

std::int64_t SafeSave(const std::string& target, const std::string& data) {
    return MFastFile_WriteAtOnce(target.c_str(), data.data(), data.size(),
                                 MFASTFILE_MODE_OVERWRITE | MFASTFILE_MODE_SAFE);
}

constexpr std::size_t kSize = 4u << 20;

// The name a safe save gives its temporary file: "ffw", a unique part, ".tmp" (mkstemp's six
// characters on Linux, GetTempFileNameA's number on Windows: up to four hexadecimal digits,
// without leading zeros under Wine).
bool IsTemporaryName(const std::string& name) {
#if defined(_WIN32)
    const std::size_t shortest = 8, longest = 11;
#else
    const std::size_t shortest = 13, longest = 13;
#endif
    return name.size() >= shortest && name.size() <= longest && name.rfind("ffw", 0) == 0 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

} // namespace

// Saves the content with the first salt, then the second, alternating, and sends one byte
// before its first save and one after each save. Bounded, so that an orphaned child ends by
// itself.
VYX_TEST_CHILD(SaveAlternately) {
    const std::string first = Content(kSize, unsigned(std::stoul(args.at(1))));
    const std::string second = Content(kSize, unsigned(std::stoul(args.at(2))));
    vyx::test::Pipe progress(args.at(3));
    for (int k = 0; k < 100000; ++k)
        if (!progress.Send('r') || SafeSave(args.at(0), k % 2 ? second : first) < 0)
            return 2;
    return 0;
}

// The writer is another process, so there is nothing for ThreadSanitizer to watch: this suite
// runs in the release and address-sanitizer builds only.
TEST(SafeSaveKill, KilledWriterLeavesOldOrNewFile) {
    using Clock = std::chrono::steady_clock;
    vyx::test::TempDir dir;
    const std::string target = dir.File("large.dat");
    const std::string a = Content(kSize, 1), b = Content(kSize, 77);

    // Time a few saves to spread the kills over whole saves, every phase included.
    Clock::duration save{};
    for (const std::string* data : {&a, &b, &a}) {
        auto start = Clock::now();
        ASSERT_EQ(SafeSave(target, *data), static_cast<std::int64_t>(kSize));
        save = std::max(save, Clock::now() - start);
    }

    std::mt19937_64 rng(std::random_device{}());
    int sawA = 0, sawB = 0, killedMidSave = 0;
    bool currentIsA = true;
    for (int round = 0; round < 50; ++round) {
        // The child saves the content that is not there first.
        vyx::test::Pipe progress;
        vyx::test::ChildProcess child(
            "SaveAlternately",
            {target, currentIsA ? "77" : "1", currentIsA ? "1" : "77", progress.Token()});
        // Let the child finish 0, 1 or 2 saves, then kill it somewhere inside the next one
        // or two: the kill lands before, during and after renames.
        const int finished = int(rng() % 3);
        char byte = 0;
        auto started = Clock::now();
        for (int i = 0; i <= finished; ++i) {
            ASSERT_TRUE(progress.Receive(&byte)) << "the saving child stopped";
            if (i == 0)
                started = Clock::now();
        }
        if (finished > 0) // the child may save slower than this process did
            save = std::max(save, (Clock::now() - started) / finished);
        // Spinning, not sleeping: the wait only picks the kill point, it orders nothing.
        auto range = std::chrono::duration_cast<std::chrono::microseconds>(save * 3 / 2);
        auto until = Clock::now() + std::chrono::microseconds(rng() % (range.count() + 1));
        while (Clock::now() < until) {
        }
        ASSERT_TRUE(child.Kill()) << "the child ended by itself (a save failed)";

        std::string content = vyx::test::ReadFileBytes(target);
        bool isA = content == a, isB = content == b;
        ASSERT_TRUE(isA || isB) << "round " << round << ": target holds " << content.size()
                                << " bytes that are neither the old nor the new content";
        sawA += isA;
        sawB += isB;
        currentIsA = isA;
        // The only other names are temporary files of an interrupted save; clean them up.
        for (const std::string& name : fileio_test::ListNames(dir.Path())) {
            if (name == "large.dat")
                continue;
            EXPECT_TRUE(IsTemporaryName(name)) << "unexpected file " << name;
            std::error_code ignored;
            std::filesystem::remove(dir.File(name), ignored);
            ++killedMidSave;
        }
    }
    // The kills landed both before and after renames, and inside saves.
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
    EXPECT_GT(killedMidSave, 0);
    RecordProperty("kills_inside_a_save", killedMidSave);
}
