#include "msl/mfileio/mbufferreader.h"

MBufferReader::MBufferReader(const void* data, std::size_t size) {
    // The reader never writes through these pointers; they are non-const only because the
    // file reader's buffer shares them.
    char* start = const_cast<char*>(static_cast<const char*>(data));
    state = kInMemory;
    pos = floor = start;
    end = start + size;
}

MBufferReader::MBufferReader(const std::string& data) : MBufferReader(data.data(), data.size()) {}

MBufferReader::~MBufferReader() = default;

bool MBufferReader::fill_buffer() {
    if (state != kInMemory)
        return MFastFileReader::fill_buffer(); // reopened on a file
    if (pos == end)
        pos = end = floor;
    return true;
}
