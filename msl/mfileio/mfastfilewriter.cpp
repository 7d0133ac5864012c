#include "msl/mfileio/mfastfilewriter.h"

#include "msl/mfileio/mfastfile_internal.h"
#include "platform/trace/merrtrace.h"

#include <cstring>

namespace os = mfileio_os;

namespace {

// A remainder up to this size after a full buffer went to disk is buffered again; anything
// larger goes to disk at once, sparing a copy.
constexpr std::size_t kRebufferLimit = MFastFile::kBufferSize - 32;

} // namespace

MFastFileWriter::MFastFileWriter() {
    end = buffer + kBufferSize;
    pos = buffer;
}

MFastFileWriter::MFastFileWriter(const char* name, int mode) : MFastFileWriter() {
    if (!Open(name, mode))
        MERRTRACE("MFastFileWriter::MFastFileWriter(): Open(\"%s\",%d) failed", name, mode);
}

MFastFileWriter::~MFastFileWriter() {
    if (!Close())
        MERRTRACE("MFastFileWriter::~MFastFileWriter(): Close() failed");
}

bool MFastFileWriter::Open(const char* name, int mode) {
    if (state != kClosed && !Close()) {
        MERRTRACE("MFastFileWriter::Open(): Close() failed");
        return false;
    }
    os::Handle handle = mfastfile::openwritefile(name, mode);
    if (handle == os::kInvalidHandle) {
        MERRTRACE("%s(): openwritefile(%s, %d) failed", "MFastFileWriter::Open", name, mode);
        return false;
    }
    hFile = handle;
    state = kOnFile;
    pos = buffer;
    end = buffer + kBufferSize;
    filename = name;
    return true;
}

bool MFastFileWriter::Close() {
    if (state == kClosed)
        return true;
    bool ok = write_buffered();
    if (!os::Close(hFile)) {
        MERRTRACE("%s(): CloseHandle() failed: %d", "MFastFileWriter::Close", os::LastError());
        ok = false;
    }
    hFile = os::kInvalidHandle;
    state = kClosed;
    pos = buffer;
    filename.clear();
    return ok;
}

bool MFastFileWriter::write_to_disk(const void* data, std::size_t size) {
    if (state != kOnFile) {
        MERRTRACE("MFastFileWriter::write_to_disk(): no open file");
        return false;
    }
    std::uint64_t done = 0;
    mfastfile::write64(hFile, data, size, done);
    if (done != size) {
        MERRTRACE("%s(): wrote only %llu bytes instead of %zu bytes",
                  "MFastFileWriter::write_to_disk", static_cast<unsigned long long>(done), size);
        return false;
    }
    return true;
}

bool MFastFileWriter::write_buffered() {
    std::size_t size = static_cast<std::size_t>(pos - buffer);
    pos = buffer;
    return size == 0 || write_to_disk(buffer, size);
}

std::int64_t MFastFileWriter::write_to_buffer(const void* data, std::size_t size) {
    if (state != kOnFile) {
        MERRTRACE("MFastFileWriter::write_to_buffer(): no open file");
        return -1;
    }
    const char* from = static_cast<const char*>(data);
    std::size_t room = static_cast<std::size_t>(end - pos);
    if (size <= room) {
        if (size > 0)
            std::memcpy(pos, from, size);
        pos += size;
        return static_cast<std::int64_t>(size);
    }
    std::memcpy(pos, from, room);
    pos = buffer;
    if (!write_to_disk(buffer, kBufferSize))
        return -1;
    std::size_t rest = size - room;
    if (rest <= kRebufferLimit) {
        std::memcpy(buffer, from + room, rest);
        pos = buffer + rest;
    } else if (!write_to_disk(from + room, rest)) {
        return -1;
    }
    return static_cast<std::int64_t>(size);
}

int MFastFileWriter::WriteChar(char c) {
    if (state != kOnFile) {
        MERRTRACE("MFastFileWriter::WriteChar(): no open file");
        return -1;
    }
    if (pos < end) {
        *pos++ = c;
        return 1;
    }
    return write_to_buffer(&c, 1) < 0 ? -1 : 1;
}

int MFastFileWriter::WriteCharNL(char c) {
    if (c == '\n')
        return write_to_buffer("\r\n", 2) < 0 ? -1 : 2;
    return WriteChar(c);
}

std::int64_t MFastFileWriter::WriteString(std::string_view text) {
    return write_to_buffer(text.data(), text.size());
}

std::int64_t MFastFileWriter::WriteStringNL(std::string_view text) {
    // Same bytes as WriteCharNL on each character, written a stretch between LFs at a time.
    std::int64_t total = 0;
    for (;;) {
        std::size_t lf = text.find('\n');
        std::string_view stretch = text.substr(0, lf);
        if (write_to_buffer(stretch.data(), stretch.size()) < 0)
            return -1;
        total += static_cast<std::int64_t>(stretch.size());
        if (lf == std::string_view::npos)
            return total;
        if (write_to_buffer("\r\n", 2) < 0)
            return -1;
        total += 2;
        text.remove_prefix(lf + 1);
    }
}

std::int64_t MFastFileWriter::WriteLine(std::string_view text) {
    std::size_t lf = text.find('\n');
    if (lf != std::string_view::npos) {
        MERRTRACE("MFastFileWriter::WriteLine(): EOL detected in string at pos %zu", lf);
        return -1;
    }
    if (write_to_buffer(text.data(), text.size()) < 0 || write_to_buffer("\r\n", 2) < 0)
        return -1;
    return static_cast<std::int64_t>(text.size() + 2);
}

std::int64_t MFastFileWriter::WriteLineNL(std::string_view text) {
    std::int64_t written = WriteStringNL(text);
    if (written < 0 || write_to_buffer("\r\n", 2) < 0)
        return -1;
    return written + 2;
}

std::int64_t MFastFileWriter::WriteInt(std::int32_t value) {
    return write_to_buffer(&value, sizeof value);
}
std::int64_t MFastFileWriter::WriteShort(std::int16_t value) {
    return write_to_buffer(&value, sizeof value);
}
std::int64_t MFastFileWriter::WriteLong(std::int32_t value) {
    return write_to_buffer(&value, sizeof value);
}
std::int64_t MFastFileWriter::WriteFloat(float value) {
    return write_to_buffer(&value, sizeof value);
}
std::int64_t MFastFileWriter::WriteDouble(double value) {
    return write_to_buffer(&value, sizeof value);
}

bool MFastFileWriter::Flush() {
    if (state == kClosed) {
        MERRTRACE("MFastFileWriter::Flush(): no open file");
        return false;
    }
    if (hFile == os::kInvalidHandle) {
        MERRTRACE("MFastFileWriter::Flush(): hFile not valid");
        return false;
    }
    if (!write_buffered())
        return false;
    if (!os::Sync(hFile)) {
        MERRTRACE("MFastFileWriter::Flush(): FlushFileBuffers() failed: %d", os::LastError());
        return false;
    }
    return true;
}
