#include "msl/mfileio/mfastfilereader.h"

#include "msl/mfileio/mfastfile_internal.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"

#include <cstring>

namespace os = mfileio_os;

using mfastfile::IsLineEnd;

MFastFileReader::MFastFileReader() : floor(buffer) {}

MFastFileReader::MFastFileReader(const char* name) : floor(buffer) {
    if (!Open(name))
        MERRTRACE("MFastFileReader::MFastFileReader(): Open(\"%s\") failed", name);
}

MFastFileReader::~MFastFileReader() {
    if (!Close())
        MERRTRACE("MFastFileReader::~MFastFileReader(): Close() failed");
}

bool MFastFileReader::Open(const char* name) {
    if (state != kClosed && !Close()) {
        MERRTRACE("MFastFileReader::Open(): Close() failed");
        return false;
    }
    os::Handle handle = mfastfile::openfile(name);
    if (handle == os::kInvalidHandle) {
        MERRTRACE("MFastFileReader::Open(): openfile(\"%s\") failed: %d", name, os::LastError());
        return false;
    }
    hFile = handle;
    state = kOnFile;
    pos = end = floor = buffer;
    readFailed = false;
    filename = name;
    return true;
}

bool MFastFileReader::Close() {
    if (state == kClosed)
        return true;
    filename.clear();
    bool ok = true;
    if (state == kOnFile && !os::Close(hFile)) {
        MERRTRACE("MFastFileReader::Close(): CloseHandle() failed: %d", os::LastError());
        ok = false;
    }
    hFile = os::kInvalidHandle;
    state = kClosed;
    pos = end = floor = buffer;
    return ok;
}

bool MFastFileReader::fill_buffer() {
    std::uint64_t got = 0;
    if (!mfastfile::read64(hFile, buffer, kBufferSize, got)) {
        readFailed = true;
        MERRTRACE("MFastFileReader::fill_buffer(): read64() failed");
        return false;
    }
    if (got > 0) {
        pos = buffer;
        end = buffer + got;
    }
    return true;
}

bool MFastFileReader::skip_lf_after_cr() {
    if (pos == end && !fill_buffer())
        return false;
    if (pos < end && *pos == '\n')
        ++pos;
    return true;
}

bool MFastFileReader::ReadLine(std::string& line) {
    line.clear();
    if (state == kClosed) {
        MERRTRACE("MFastFileReader::ReadLine(): no open file");
        return false;
    }
    for (;;) {
        char* p = const_cast<char*>(mfastfile::FindLineEnd(pos, end));
        if (p < end) {
            line.append(pos, static_cast<std::size_t>(p - pos));
            pos = p + 1;
            if (*p == '\r' && !skip_lf_after_cr()) {
                MERRTRACE("MFastFileReader::ReadLine(STL): fill_buffer() failed");
                return false;
            }
            return true;
        }
        line.append(pos, static_cast<std::size_t>(end - pos));
        pos = end;
        if (!fill_buffer()) {
            MERRTRACE("MFastFileReader::ReadLine(STL): fill_buffer() failed");
            return false;
        }
        if (pos == end)
            return true; // the last line had no line end
    }
}

std::int64_t MFastFileReader::ReadLine(char* out, std::size_t max) {
    if (max < 2) {
        MERRTRACE("MFastFileReader::ReadLine(): buffer of %zu bytes too small", max);
        return -1;
    }
    if (state == kClosed) {
        MERRTRACE("MFastFileReader::ReadLine(): no open file");
        return -1;
    }
    const std::size_t room = max - 1;
    std::size_t n = 0;
    auto fail = [&]() -> std::int64_t {
        out[n] = '\0';
        MERRTRACE("MFastFileReader::ReadLine(): fill_buffer() failed");
        return -1;
    };
    for (;;) {
        while (pos < end && n < room) {
            char c = *pos++;
            if (IsLineEnd(c)) {
                if (c == '\r' && !skip_lf_after_cr())
                    return fail();
                out[n] = '\0';
                return static_cast<std::int64_t>(n);
            }
            out[n++] = c;
        }
        if (n == room) {
            // A line that just fits takes its line end along instead of leaving an empty piece.
            if (pos == end && !fill_buffer())
                return fail();
            if (pos < end && IsLineEnd(*pos)) {
                char c = *pos++;
                if (c == '\r' && !skip_lf_after_cr())
                    return fail();
            }
            out[n] = '\0';
            return static_cast<std::int64_t>(n);
        }
        if (!fill_buffer())
            return fail();
        if (pos == end) {
            out[n] = '\0';
            return static_cast<std::int64_t>(n);
        }
    }
}

std::int64_t MFastFileReader::ReadString(char* out, std::size_t max, char delimiter) {
    if (max < 2) {
        MERRTRACE("MFastFileReader::ReadString(): buffer of %zu bytes too small", max);
        return -1;
    }
    if (state == kClosed) {
        MERRTRACE("MFastFileReader::ReadString(): no open file");
        return -1;
    }
    const std::size_t room = max - 1;
    std::size_t n = 0;
    auto fail = [&]() -> std::int64_t {
        out[n] = '\0';
        MERRTRACE("MFastFileReader::ReadString(): fill_buffer() failed");
        return -1;
    };
    for (;;) {
        while (pos < end && n < room) {
            char c = *pos++;
            if (c == delimiter) {
                out[n] = '\0';
                return static_cast<std::int64_t>(n);
            }
            out[n++] = c;
        }
        if (n == room) {
            // A string that just fits takes its delimiter along.
            if (pos == end && !fill_buffer())
                return fail();
            if (pos < end && *pos == delimiter)
                ++pos;
            out[n] = '\0';
            return static_cast<std::int64_t>(n);
        }
        if (!fill_buffer())
            return fail();
        if (pos == end) {
            out[n] = '\0';
            return static_cast<std::int64_t>(n);
        }
    }
}

int MFastFileReader::read_char_from_buffer(char& c) {
    if (pos < end) {
        c = *pos++;
        return 1;
    }
    if (state == kClosed) {
        MERRTRACE("MFastFileReader::read_char_from_buffer(): no open file");
        return -1;
    }
    if (!fill_buffer()) {
        MERRTRACE("MFastFileReader::read_char_from_buffer(): fill_buffer() failed");
        return -1;
    }
    if (pos == end)
        return 0;
    c = *pos++;
    return 1;
}

int MFastFileReader::ReadChar(char& c) {
    return read_char_from_buffer(c);
}

int MFastFileReader::ReadCharNL(char& c) {
    int got = read_char_from_buffer(c);
    if (got != 1 || c != '\r')
        return got;
    char next;
    int more = read_char_from_buffer(next);
    if (more < 0)
        return -1;
    if (more == 1 && next != '\n' && !UnReadChar())
        return -1;
    c = '\n';
    return 1;
}

bool MFastFileReader::UnReadChar() {
    if (pos <= floor) {
        MERRTRACE("MFastFileReader::UnReadChar(): can't rewind");
        return false;
    }
    --pos;
    return true;
}

std::int64_t MFastFileReader::read_from_buffer(void* data, std::size_t size) {
    if (state == kClosed) {
        MERRTRACE("MFastFileReader::read_from_buffer(): no open file");
        return -1;
    }
    char* out = static_cast<char*>(data);
    std::size_t avail = static_cast<std::size_t>(end - pos);
    if (size <= avail) {
        std::memcpy(out, pos, size);
        pos += size;
        return static_cast<std::int64_t>(size);
    }
    if (avail > 0)
        std::memcpy(out, pos, avail);
    pos = end;
    std::size_t rest = size - avail;
    if (rest < kBufferSize) {
        // A short request: one refill serves it, and the rest of that load stays buffered.
        if (!fill_buffer()) {
            MERRTRACE("MFastFileReader::read_from_buffer(): fill_buffer() failed");
            return -1;
        }
        std::size_t take = static_cast<std::size_t>(end - pos);
        if (take > rest)
            take = rest;
        if (take > 0)
            std::memcpy(out + avail, pos, take);
        pos += take;
        return static_cast<std::int64_t>(avail + take);
    }
    if (state == kInMemory)
        return static_cast<std::int64_t>(avail);
    // A large request bypasses the buffer. What the buffer held before is no longer the byte
    // before the file position, so rewinding is not possible afterwards.
    pos = end = buffer;
    std::uint64_t got = 0;
    if (!mfastfile::read64(hFile, out + avail, rest, got)) {
        MERRTRACE("MFastFileReader::read_from_buffer(): read64() failed");
        return -1;
    }
    return static_cast<std::int64_t>(avail + got);
}

std::int64_t MFastFileReader::Read(void* data, std::size_t size) {
    return read_from_buffer(data, size);
}

std::int64_t MFastFileReader::ReadInt(std::int32_t& value) {
    return read_from_buffer(&value, sizeof value);
}
std::int64_t MFastFileReader::ReadShort(std::int16_t& value) {
    return read_from_buffer(&value, sizeof value);
}
std::int64_t MFastFileReader::ReadLong(std::int32_t& value) {
    return read_from_buffer(&value, sizeof value);
}
std::int64_t MFastFileReader::ReadFloat(float& value) {
    return read_from_buffer(&value, sizeof value);
}
std::int64_t MFastFileReader::ReadDouble(double& value) {
    return read_from_buffer(&value, sizeof value);
}

bool MFastFileReader::IsEOF() {
    if (pos < end)
        return false;
    if (state == kClosed) {
        MERRLOG("MFastFileReader::IsEOF(): no open file");
        return true;
    }
    if (!fill_buffer()) {
        MERRLOG("MFastFileReader::IsEOF(): fill_buffer() failed");
        MErrTrace_ClearContext();
        return true;
    }
    return pos == end;
}
