#pragma once
// The fast reader over a block of memory instead of a file: every read operation of
// MFastFileReader works unchanged. The block is not copied; the caller keeps it alive and
// unchanged while the reader uses it.

#include "msl/mfileio/mfastfilereader.h"

#include <cstddef>
#include <string>

class MBufferReader : public MFastFileReader {
public:
    MBufferReader(const void* data, std::size_t size);
    explicit MBufferReader(const std::string& data);
    // A temporary would be gone before the first read.
    explicit MBufferReader(std::string&& data) = delete;
    virtual ~MBufferReader();

protected:
    // In memory there is nothing to refill: once every byte is read the reader is at end.
    bool fill_buffer() override;
};
