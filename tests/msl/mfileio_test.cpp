// Files and folders: the fast file reader and whole-file reads and writes with their failures,
// folder walks and copies, path texts; a safe save killed at any moment leaves the old file or
// the new one, never a mix.
#include "msl/mfileio/mdirtools.h"
#include "msl/mfileio/mfastfile.h"
#include "msl/mfileio/mfastfilereader.h"
#include "msl/mfileio/mfileops.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

using vyx::test::Native;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;

namespace {

using Lines = std::vector<std::string>;

// Names in a folder, sorted.
Lines ListNames(const std::string& dir) {
    Lines names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

unsigned PermissionBits(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xffffffffu;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

constexpr std::size_t B = MFastFile::kBufferSize;

// The system's code for "the file exists": ERROR_FILE_EXISTS on Windows, EEXIST elsewhere.
const std::string kFileExists = vyx::test::kSeparator == '\\' ? "80" : "17";

Lines ReadFileLines(const std::string& path) {
    MFastFileReader reader(path.c_str());
    EXPECT_TRUE(reader.IsOpen()) << path;
    Lines lines;
    std::string line;
    while (!reader.IsEOF()) {
        EXPECT_TRUE(reader.ReadLine(line));
        lines.push_back(line);
    }
    return lines;
}

// What the system says when a name is taken, and permission bits that a copy with "keep"
// carries over. Windows has only the read-only attribute, which the C run-time shows as the
// missing write bits.
#if defined(_WIN32)
const std::string kExists = "[183] \"";
constexpr unsigned kPrivate = 0444, kShared = 0666;
#else
const std::string kExists = "[17] \"File exists\"";
constexpr unsigned kPrivate = 0600, kShared = 0644;
#endif

// Changes the current directory for one scope.
struct CurrentDirectory {
    explicit CurrentDirectory(const std::string& dir) { std::filesystem::current_path(dir); }
    ~CurrentDirectory() { std::filesystem::current_path(saved); }
    std::filesystem::path saved = std::filesystem::current_path();
};

// A tree:  a.txt  b/  f.ini
void MakeTree(const std::string& root) {
    ASSERT_TRUE(std::filesystem::create_directory((root + Native("/b"))));
    for (const char* name : {"/a.txt", "/f.ini"})
        ASSERT_TRUE(WriteFileBytes(root + name, "x"));
}

// Records every callback as "F path" or "D path"; fails for the path `failOn`.
struct Recorder {
    Lines events;
    std::string failOn;
};

bool Record(void* context, const std::string& path) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->events.push_back((dir_exists(path.c_str()) ? "D " : "F ") + path);
    return path != recorder->failOn;
}

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

TEST(MFastFileReader, LinesAcrossBufferLoads) {
    TempDir dir;
    const std::string path = dir.File("f");
    // A CR as the last byte of one load, its LF (or the next line) opening the next load.
    const std::string full(B - 1, 'a');
    for (const char* end : {"\r\n", "\r"}) {
        SCOPED_TRACE(std::strlen(end));
        ASSERT_TRUE(WriteFileBytes(path, full + end + "b"));
        EXPECT_EQ(ReadFileLines(path), (Lines{full, "b"}));
    }

    // Lines of lengths around and far beyond the buffer, with every line end.
    const std::size_t lengths[] = {0, 1, B - 2, B - 1, B, B + 1, 3 * B + 5, 100000, 7};
    const char* ends[] = {"\r\n", "\n", "\r"};
    std::string text;
    Lines expected;
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        std::string line(lengths[i], static_cast<char>('a' + i));
        if (!line.empty())
            line[line.size() / 2] = 'X';
        expected.push_back(line);
        text += line + ends[i % 3];
    }
    expected.push_back("tail");
    ASSERT_TRUE(WriteFileBytes(path, text + "tail"));
    EXPECT_EQ(ReadFileLines(path), expected);
}

TEST(MFastFileWholeFile, WriteModesLineEndsCopiesAndReads) {
    TempDir dir;
    std::string path = dir.File("m.txt");
    ASSERT_TRUE(WriteFileBytes(path, "old"));
    TraceCapture capture;
    EXPECT_EQ(MFastFile_WriteAtOnce(path.c_str(), "x", 1, MFASTFILE_MODE_NEW), -1);
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"openwritefile(): CreateFile(\"" + path + "\") failed: " + kFileExists,
                     "MFastFile_WriteAtOnce(): openwritefile(" + path + ", 0) failed"}));
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(MFastFile_WriteAtOnce(path.c_str(), "xy", 2,
                                    MFASTFILE_MODE_OVERWRITE | MFASTFILE_MODE_FLUSH),
              2);
    EXPECT_EQ(ReadFileBytes(path), "xy");

    // Line ends written as CR LF, read as LF.
    const std::string text = "a\nb\rc\r\n\n\rd";
    EXPECT_EQ(MFastFile_WriteLinesAtOnce(path.c_str(), text.data(), text.size(), 2), 14);
    EXPECT_EQ(ReadFileBytes(path), "a\r\nb\r\nc\r\n\r\n\r\nd");
    EXPECT_EQ(MFastFile_WriteLinesAtOnce(path.c_str(), "", 0, 2), 0);
    EXPECT_EQ(ReadFileBytes(path), "");
    ASSERT_TRUE(WriteFileBytes(path, "a\r\nb\rc\n\r\r\nd\r"));
    std::string read;
    EXPECT_EQ(MFastFile_ReadLinesAtOnce(path.c_str(), read), 10);
    EXPECT_EQ(read, "a\nb\nc\n\n\nd\n");

    // Copies: an empty source makes an empty file, a missing one is refused.
    std::string source = dir.File("src.bin"), target = dir.File("dst.bin"),
                missing = dir.File("missing");
    ASSERT_TRUE(WriteFileBytes(source, ""));
    EXPECT_TRUE(MFastFile_CopyFile(source.c_str(), target.c_str(), MFASTFILE_MODE_NEW));
    EXPECT_TRUE(vyx::test::PathExists(target));
    EXPECT_FALSE(MFastFile_CopyFile(missing.c_str(), target.c_str(), 2));
    EXPECT_EQ(capture.ErrTrace().back(),
              "MFastFile_CopyFile(): file_size(\"" + missing + "\") failed");

    // Reads, and their failures also through the reader.
    std::string data = RandomBytes(70000, 3);
    ASSERT_TRUE(WriteFileBytes(path, data));
    read = "stale";
    EXPECT_EQ(MFastFile_ReadAtOnce(path.c_str(), read), 70000);
    EXPECT_EQ(read, data);
    std::string part(100, '\0');
    EXPECT_EQ(MFastFile_ReadAtOnce(path.c_str(), part.data(), part.size()), 100);
    EXPECT_EQ(part, data.substr(0, 100));
    capture.Clear();
    EXPECT_EQ(MFastFile_ReadAtOnce(missing.c_str(), read), -1);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(MFastFile_ReadAtOnce(missing.c_str(), part.data(), part.size()), -1);
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"MFastFile_ReadAtOnce(): file_size(\"" + missing + "\") returned -1",
                     "openfile(): CreateFile(\"" + missing + "\") failed: 2",
                     "MFastFile_ReadAtOnce(): openfile(\"" + missing + "\") failed."}));
    capture.Clear();
    // A directory has size 0 but cannot be read as a file.
    EXPECT_EQ(MFastFile_ReadAtOnce(dir.Path().c_str(), read), -1);
    EXPECT_EQ(capture.ErrTrace().back(),
              "MFastFile_ReadAtOnce(): MFastFile_ReadAtOnce(\"" + dir.Path() + "\",..,0) failed");
    capture.Clear();
    MFastFileReader reader(missing.c_str());
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"openfile(): CreateFile(\"" + missing + "\") failed: 2",
                     "MFastFileReader::Open(): openfile(\"" + missing + "\") failed: 2",
                     "MFastFileReader::MFastFileReader(): Open(\"" + missing + "\") failed"}));
}

TEST(MFastFileWholeFile, SafeReplaceKeepsFolderAndPermissionsOrTheTarget) {
    // Windows keeps only read-only or not, and a read-only file cannot be replaced.
#if defined(_WIN32)
    const unsigned kMode = 0666;
#else
    const unsigned kMode = 0640;
#endif
    TempDir dir;
    std::string path = dir.File("w.txt");
    ASSERT_TRUE(WriteFileBytes(path, "old"));
    ::chmod(path.c_str(), kMode);
    std::string big = RandomBytes(300000, 5);
    for (int mode : {10, 14}) {
        EXPECT_EQ(MFastFile_WriteAtOnce(path.c_str(), big.data(), big.size(), mode),
                  static_cast<std::int64_t>(big.size()));
        EXPECT_EQ(ReadFileBytes(path), big);
        EXPECT_EQ(PermissionBits(path), kMode);
        EXPECT_EQ(ListNames(dir.Path()), Lines{"w.txt"}); // no temporary file left
        big[0] ^= 1;
    }
    // A new file through the safe replace gets the mode of a plain create.
    std::string fresh = dir.File("fresh.txt");
    std::string plain = dir.File("plain.txt");
    ASSERT_EQ(MFastFile_WriteAtOnce(fresh.c_str(), "n", 1, 10), 1);
    ASSERT_EQ(MFastFile_WriteAtOnce(plain.c_str(), "n", 1, 2), 1);
    EXPECT_EQ(PermissionBits(fresh), PermissionBits(plain));

    // The target is a non-empty folder: the rename fails, the temporary file goes away.
    std::string target = dir.File("target");
    ASSERT_TRUE(std::filesystem::create_directory(target));
    ASSERT_TRUE(WriteFileBytes(target + "/inside", "keep"));
    TraceCapture capture;
    EXPECT_EQ(MFastFile_WriteAtOnce(target.c_str(), "data", 4, 10), -1);
    Lines lines = capture.ErrTrace();
    ASSERT_EQ(lines.size(), 2u) << capture.Dump();
    const std::string head = "file_rename(): MoveFileEx(";
    ASSERT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
    std::string tempName = lines[0].substr(head.size(), lines[0].find(',') - head.size());
    EXPECT_EQ(tempName.rfind(dir.Path() + vyx::test::kSeparator + "ffw", 0), 0u) << tempName;
    // Access denied on Windows, followed by the system's own text; a folder elsewhere.
    const bool windows = vyx::test::kSeparator == '\\';
    const std::string failed = tempName + "," + target + ") failed: ";
    EXPECT_EQ(lines[0], head + failed + (windows ? "5" : "21"));
    const std::string second = "MFastFile_WriteAtOnce(): file_rename(" + failed;
    EXPECT_EQ(lines[1].rfind(second, 0), 0u) << lines[1];
    if (!windows) {
        EXPECT_EQ(lines[1], second + "Is a directory");
    }
    EXPECT_EQ(ListNames(dir.Path()), (Lines{"fresh.txt", "plain.txt", "target", "w.txt"}));
    EXPECT_EQ(ReadFileBytes(target + "/inside"), "keep");
    capture.Clear();

    // No folder to put the temporary file in.
    std::string lost = dir.File("no/such/file");
    EXPECT_EQ(MFastFile_WriteAtOnce(lost.c_str(), "x", 1, 10), -1);
    EXPECT_EQ(MFastFile_WriteLinesAtOnce(lost.c_str(), "x\n", 2, 2), -1);
    // No such file, or on Windows no such folder (ERROR_DIRECTORY).
    const std::string missingCode = vyx::test::kSeparator == '/' ? "2" : "267";
    EXPECT_EQ(capture.ErrTrace().front(),
              "MFastFile_WriteAtOnce(): GetTempFileName() failed:" + missingCode);
    EXPECT_EQ(capture.ErrTrace().back(), "MFastFile_WriteLinesAtOnce(): MFastFile_WriteAtOnce(\"" +
                                             lost + "\",..,3,2) failed");
}

// Failures of the system calls themselves, from files whose reads, or writes, fail once opened:
// this process's memory read from address 0 (EIO), and /dev/full (ENOSPC, a full disk). Windows
// has no such files, and Wine does not let a byte-range lock stop its own process: the test is
// on the list of tests that do not run under Wine (cmake/VyxWindows.cmake).
TEST(MFastFile, SystemReadAndWriteErrors) {
    TraceCapture capture;
    MFastFileReader reader("/proc/self/mem");
    ASSERT_TRUE(reader.IsOpen()) << capture.Dump();
    std::string line;
    EXPECT_FALSE(reader.ReadLine(line));
    EXPECT_EQ(capture.ErrTrace(), (Lines{"read64(): ReadFile() failed: 5",
                                         "MFastFileReader::fill_buffer(): read64() failed",
                                         "MFastFileReader::ReadLine(STL): fill_buffer() failed"}));
    capture.Clear();
    // IsEOF logs the failed refill, discards the chain and reports end of file.
    EXPECT_TRUE(reader.IsEOF());
    EXPECT_EQ(capture.ErrLog(), Lines{"MFastFileReader::IsEOF(): fill_buffer() failed"});
    EXPECT_TRUE(MErrTrace_GetContextLines().empty());
    capture.Clear();

    EXPECT_EQ(MFastFile_WriteAtOnce("/dev/full", "abc", 3, MFASTFILE_MODE_OVERWRITE), -1);
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"write64(): WriteFile() failed: 28 (ENOSPC: No space left on device)",
                     "MFastFile_WriteAtOnce(): write64() failed"}));
}

// Folders created recursively, walked, copied and removed from.
TEST(MDirTools, CreateWalkCopyAndRemove) {
    TempDir dir;
    {
        CurrentDirectory cd(dir.Path());
        EXPECT_TRUE(varn::createDirectoryRecursive("a/b/../c"));
        EXPECT_TRUE(varn::createDirectoryRecursive("./x/./y//z/"));
    }
    EXPECT_EQ(ListNames(dir.Path()), (Lines{"a", "x"}));
    EXPECT_EQ(ListNames(dir.File("a")), Lines{"c"}); // no "b"
    EXPECT_TRUE(dir_exists(dir.File(Native("x/y/z")).c_str()));
    EXPECT_TRUE(varn::createDirectoryRecursive(dir.File("x"))); // already there

    // A file stands where a directory is wanted.
    TraceCapture capture;
    ASSERT_TRUE(WriteFileBytes(dir.File("file"), "x"));
    std::string wanted = dir.File(Native("file/sub"));
    EXPECT_FALSE(varn::createDirectoryRecursive(wanted));
    Lines trace = capture.ErrTrace();
    ASSERT_EQ(trace.size(), 3u) << capture.Dump();
    EXPECT_EQ(Lines(trace.begin(), trace.begin() + 2),
              (Lines{"createDirectoryRecursive(): dir_mk(" + dir.File("file") + ") failed",
                     "createDirectoryRecursive(): want to create \"" + wanted + "\""}));
    // The system's own text follows the code.
    EXPECT_EQ(trace[2].rfind("createDirectoryRecursive(): system error: " + kExists, 0), 0u)
        << trace[2];

    // A tree, walked one level (MDIR_NO_RECURSION: the deeper walks have no caller); a failed
    // callback is reported, and the walk goes on.
    std::string source = dir.File("src"), target = dir.File("dst");
    ASSERT_TRUE(std::filesystem::create_directory(source));
    MakeTree(source);
    const std::string r = source;
    auto walk = [&](bool files, const std::string& failOn) {
        Recorder recorder{{}, failOn};
        const bool ok = iterateDirectory(r, MDIR_NO_RECURSION, files ? Record : nullptr, &recorder,
                                         Record, &recorder);
        recorder.events.push_back(ok ? "ok" : "failed");
        return recorder.events;
    };
    const std::string a = r + Native("/a.txt"), b = r + Native("/b"), f = r + Native("/f.ini");
    capture.Clear();
    EXPECT_EQ(walk(true, ""), (Lines{"F " + a, "D " + b, "F " + f, "ok"}));
    EXPECT_EQ(walk(false, ""), (Lines{"D " + b, "ok"}));
    EXPECT_EQ(walk(true, a), (Lines{"F " + a, "D " + b, "F " + f, "failed"}));
    EXPECT_EQ(walk(true, b), (Lines{"F " + a, "D " + b, "F " + f, "failed"}));
    EXPECT_FALSE(iterateDirectory(r + Native("/missing"), 0, Record, nullptr, nullptr, nullptr));
    EXPECT_EQ(capture.ErrTrace(), (Lines{"iterateDirectory(): file callback failed for " + a,
                                         "iterateDirectory(): directory callback failed for " + b,
                                         "iterateDirectory(): FindFirstFile(" + r +
                                             Native("/missing/*) == INVALID_HANDLE_VALUE")}));

    // The camera's folder seeding copies flat folders (mcameramachopen_test); here the copy's
    // own edges: permissions kept, no existing or unreachable target.
    ASSERT_EQ(::chmod((source + Native("/a.txt")).c_str(), kPrivate), 0);
    ASSERT_EQ(::chmod((source + Native("/f.ini")).c_str(), kShared), 0);
    EXPECT_TRUE(copyDirectory(source, target));
    EXPECT_EQ(PermissionBits(target + Native("/a.txt")), kPrivate);
    EXPECT_EQ(PermissionBits(target + Native("/f.ini")), kShared);
    // Removal takes files, not folders. (Renames and their failure are the safe save's.) A
    // writable file: Windows refuses to remove the read-only copies.
    const std::string c = target + Native("/c.txt");
    ASSERT_TRUE(WriteFileBytes(c, "C"));
    EXPECT_TRUE(file_remove(c.c_str()));
    EXPECT_FALSE(file_remove(c.c_str()));
    EXPECT_FALSE(file_remove(target.c_str()));
    EXPECT_TRUE(dir_exists(target.c_str()));

    // Onto an existing directory: refused before anything is copied.
    std::string existing = dir.File("existing");
    ASSERT_TRUE(std::filesystem::create_directory(existing));
    std::string nowhere = dir.File(Native("no/such"));
    capture.Clear();
    EXPECT_FALSE(copyDirectory(source, existing));
    EXPECT_TRUE(ListNames(existing).empty());
    EXPECT_FALSE(copyDirectory(source, nowhere));
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"copyDirectory(): directory \"" + existing + "\" already exist",
                     "copyDirectory(): dir_mk(" + nowhere + ") failed"}));
}

TEST(MFileOps, PathText) {
    // The last separator is written as the platform's own; no folder leaves the output alone.
    const std::string sep(1, vyx::test::kSeparator), joined = "a/b" + sep + "c.ini";
    const std::pair<const char*, std::string> dirnames[] = {
        {"a/b/c.txt", "a/b" + sep}, {"/x", sep}, {"a/b/", "a/b" + sep}, {"name.ini", ""}};
    for (const auto& [path, expected] : dirnames) {
        std::string out = "unchanged";
        EXPECT_EQ(file_dirname(path, out), !expected.empty()) << path;
        EXPECT_EQ(out, expected.empty() ? "unchanged" : expected) << path;
    }
    const std::tuple<const char*, const char*, const char*> joins[] = {
        {"a/b", "c.ini", joined.c_str()},
        {"a/b/", "c.ini", "a/b/c.ini"},
        {"C:\\cfg\\", "c.ini", "C:\\cfg\\c.ini"},
        {"", "c.ini", "c.ini"}};
    for (const auto& [dir, name, expected] : joins)
        EXPECT_EQ(file_join(dir, name), expected) << dir;
    for (const char* absolute : {"/etc", "C:/x", "z:"})
        EXPECT_TRUE(file_is_absolute(absolute)) << absolute;
    for (const char* relative : {"1:/x", "rel/x", "C", ""})
        EXPECT_FALSE(file_is_absolute(relative)) << relative;
}

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
    TempDir dir;
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

        std::string content = ReadFileBytes(target);
        bool isA = content == a, isB = content == b;
        ASSERT_TRUE(isA || isB) << "round " << round << ": target holds " << content.size()
                                << " bytes that are neither the old nor the new content";
        sawA += isA;
        sawB += isB;
        currentIsA = isA;
        // The only other names are temporary files of an interrupted save; clean them up.
        for (const std::string& name : ListNames(dir.Path())) {
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
