#pragma once
// Fast file access: the common part of the buffered reader and writer, and the whole-file
// functions that read or write a file in one call.
//
// File names are byte strings passed to the system unchanged. Whole-file sizes are unsigned
// 64 bit; results are the number of bytes moved, or -1 on failure. Every failure adds its line
// to the current error-trace context.

#include <cstddef>
#include <cstdint>
#include <string>

// Writer modes (MFastFileWriter::Open and MFastFile_WriteAtOnce). The system uses
// OVERWRITE, OVERWRITE|FLUSH, OVERWRITE|SAFE and OVERWRITE|SAFE|FLUSH.
enum : int {
    MFASTFILE_MODE_NEW = 0,       // create a new file; fails when it exists
    MFASTFILE_MODE_APPEND = 1,    // append, creating the file when missing
    MFASTFILE_MODE_OVERWRITE = 2, // create or truncate
    MFASTFILE_MODE_FLUSH = 4,     // writer: write-through; whole-file write: flush before closing
    MFASTFILE_MODE_SAFE = 8,      // with OVERWRITE (whole-file write only): write a temporary
                                  // file beside the target and rename it over the target
};

// Buffer, position and handle shared by MFastFileReader and MFastFileWriter.
class MFastFile {
public:
    static constexpr std::size_t kBufferSize = 8192;

    MFastFile(const MFastFile&) = delete;
    MFastFile& operator=(const MFastFile&) = delete;

    bool IsOpen() const { return state != kClosed; }
    // Name of the open file; empty when closed or reading from memory.
    const std::string& GetFileName() const { return filename; }

protected:
    static constexpr std::int32_t kOnFile = 0;
    static constexpr std::int32_t kClosed = -1;
    static constexpr std::int32_t kInMemory = -2;

    MFastFile();
    ~MFastFile() = default;

    char buffer[kBufferSize];
    char* end; // reader: after the last valid byte; writer: end of the buffer
    char* pos; // next byte to read, or next free byte to write
    std::intptr_t hFile;
    std::int32_t state; // kOnFile, kClosed or kInMemory
    std::string filename;
};

// Reads up to `size` bytes of the file into `buffer`.
std::int64_t MFastFile_ReadAtOnce(const char* name, void* buffer, std::uint64_t size);
// Reads the whole file into `data`; on failure `data` is emptied.
std::int64_t MFastFile_ReadAtOnce(const char* name, std::string& data);

// As MFastFile_ReadAtOnce, then turns every CR LF and every lone CR into LF in place; the
// result is the new length.
std::int64_t MFastFile_ReadLinesAtOnce(const char* name, char* buffer, std::uint64_t size);
std::int64_t MFastFile_ReadLinesAtOnce(const char* name, std::string& text);

// Writes the whole block in one call. With MFASTFILE_MODE_OVERWRITE | MFASTFILE_MODE_SAFE the
// target is replaced atomically: a reader, or the disk after a crash, sees either the old file
// or the new one, never a mix. A failed safe write leaves the old file untouched.
std::int64_t MFastFile_WriteAtOnce(const char* name, const void* data, std::uint64_t size,
                                   int mode);
// Turns every LF, lone CR and CR LF of the text into CR LF, then MFastFile_WriteAtOnce.
std::int64_t MFastFile_WriteLinesAtOnce(const char* name, const char* text, std::uint64_t size,
                                        int mode);

// Removes the temporary files that safe writes into `dir` left behind when their process died
// before renaming them ("ffw*.tmp"); those a living writer still has open stay. The number
// removed.
int MFastFile_RemoveStaleTemporaries(const std::string& dir);

// Copies the whole source file into the target with MFastFile_WriteAtOnce in the given mode.
bool MFastFile_CopyFile(const char* source, const char* target, int mode);
