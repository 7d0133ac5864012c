#pragma once
// Shared-memory segments made the way another program would make them, and whether a
// segment's name exists on the machine.

#include <cstdint>
#include <cstring>
#include <string>

namespace vyx::test {

// A zero-filled shared-memory segment made with the system's own calls under a unique name,
// unknown to this process's registry; mapped here, and released with the object.
class RawSegment {
public:
    RawSegment(const std::string& prefix, size_t size);
    ~RawSegment();
    RawSegment(const RawSegment&) = delete;
    RawSegment& operator=(const RawSegment&) = delete;
    template <class T> void Put(size_t offset, T value) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
    template <class T> T Get(size_t offset) const {
        T value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    }
    std::string Bytes() const { return std::string(reinterpret_cast<const char*>(bytes), size); }

    const std::string name;
    const size_t size;
    uint8_t* bytes = nullptr; // null when the segment could not be made

private:
    void* mapping = nullptr; // Windows keeps a mapping object beside the view
};

// A segment (or, on Linux, a named event) of that name exists on the machine.
bool SegmentExists(const std::string& name);

} // namespace vyx::test
