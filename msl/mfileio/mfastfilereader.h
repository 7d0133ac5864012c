#pragma once
// Buffered reader of a file: lines with any line end (CR, LF or CR LF), delimited strings,
// single bytes and raw binary values, through one 8192-byte buffer. Large block reads go
// straight from the file into the caller's memory.
//
// Count results are the number of bytes delivered, 0 at end of file, -1 on failure. Every
// failure adds its line to the current error-trace context.

#include "msl/mfileio/mfastfile.h"

#include <cstddef>
#include <cstdint>
#include <string>

class MFastFileReader : public MFastFile {
public:
    MFastFileReader();
    // Opens the file; a failure leaves the reader closed.
    explicit MFastFileReader(const char* name);
    virtual ~MFastFileReader();

    // Closes an open file first, then opens `name` for shared reading.
    bool Open(const char* name);
    bool Close();

    // The next line without its line end. At end of file the line is empty and the result
    // true: callers test IsEOF() before each read. LF CR ends two lines.
    bool ReadLine(std::string& line);
    // As above into `buffer` of `max` bytes (terminating zero included); a line that does not
    // fit comes in pieces of max - 1 bytes. Returns the length stored.
    std::int64_t ReadLine(char* buffer, std::size_t max);
    // Bytes up to `delimiter` (consumed, not stored) or max - 1 bytes, zero-terminated.
    std::int64_t ReadString(char* buffer, std::size_t max, char delimiter);

    // One byte: 1, 0 at end of file, -1 on failure.
    int ReadChar(char& c);
    // One byte, with CR and CR LF both delivered as one LF.
    int ReadCharNL(char& c);
    // Steps back one byte; refused at the start of the buffer (or of the memory block).
    bool UnReadChar();

    // `size` bytes; fewer only at end of file.
    std::int64_t Read(void* data, std::size_t size);
    // Raw values in the machine's byte order.
    std::int64_t ReadInt(std::int32_t& value);
    std::int64_t ReadShort(std::int16_t& value);
    std::int64_t ReadLong(std::int32_t& value);
    std::int64_t ReadFloat(float& value);
    std::int64_t ReadDouble(double& value);

    // True when no byte is left. A closed reader, or one whose refill fails, reports the
    // problem to the error log and counts as at end.
    bool IsEOF();

    // True once a refill has failed since Open: lets a caller that loops on IsEOF tell a
    // read error from a real end of file.
    bool HasReadError() const { return readFailed; }

protected:
    // Refills the buffer from the file; at end of file the buffer stays empty.
    virtual bool fill_buffer();

    // Lowest position UnReadChar may step back to.
    char* floor;

private:
    bool readFailed = false;

    std::int64_t read_from_buffer(void* data, std::size_t size);
    int read_char_from_buffer(char& c);
    // Reads the byte after a CR and consumes it when it is the LF of a CR LF pair.
    bool skip_lf_after_cr();
};
