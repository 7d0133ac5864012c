#pragma once
// Buffered writer of a file: raw bytes, text with LF turned into CR LF, lines and raw binary
// values, through one 8192-byte buffer. Large blocks go straight to the file.
//
// Writes return the number of bytes written, or -1 on failure. Every failure adds its line to
// the current error-trace context.

#include "msl/mfileio/mfastfile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class MFastFileWriter : public MFastFile {
public:
    MFastFileWriter();
    // Opens the file in a writer mode (MFASTFILE_MODE_*); a failure leaves the writer closed.
    MFastFileWriter(const char* name, int mode);
    virtual ~MFastFileWriter();

    // Closes an open file first. Modes: MFASTFILE_MODE_NEW, _APPEND or _OVERWRITE, each
    // optionally with MFASTFILE_MODE_FLUSH for write-through.
    bool Open(const char* name, int mode);
    // Writes what is buffered, then closes.
    bool Close();

    int WriteChar(char c);
    // An LF is written as CR LF.
    int WriteCharNL(char c);
    // The bytes as they are.
    std::int64_t WriteString(std::string_view text);
    // Every LF of the text as CR LF.
    std::int64_t WriteStringNL(std::string_view text);
    // The text and CR LF; a text containing LF is refused.
    std::int64_t WriteLine(std::string_view text);
    // WriteStringNL, then CR LF.
    std::int64_t WriteLineNL(std::string_view text);

    // Raw values in the machine's byte order.
    std::int64_t WriteInt(std::int32_t value);
    std::int64_t WriteShort(std::int16_t value);
    std::int64_t WriteLong(std::int32_t value);
    std::int64_t WriteFloat(float value);
    std::int64_t WriteDouble(double value);

    // Writes what is buffered and makes the file reach the disk.
    bool Flush();

private:
    std::int64_t write_to_buffer(const void* data, std::size_t size);
    bool write_to_disk(const void* data, std::size_t size);
    bool write_buffered();
};
