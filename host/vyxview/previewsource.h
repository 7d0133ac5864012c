#pragma once
// A preview memory as any client reads it (host/vyxshm/README.md): the picture segment NAME,
// mapped for reading, and its event NAME.event, whose state word says 1 while a new picture
// waits; storing 0 asks the module for the next one.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vyxview {

class PreviewSource {
public:
    PreviewSource() = default;
    ~PreviewSource();
    PreviewSource(const PreviewSource&) = delete;
    PreviewSource& operator=(const PreviewSource&) = delete;

    // Maps both objects; false with `error` saying why (no such segment, not an event).
    bool Open(const std::string& name, std::string& error);

    const std::uint8_t* Bytes() const { return picture; }
    std::size_t Size() const { return pictureSize; }
    // A new picture is in the segment.
    bool Signalled() const;
    // The picture is taken: the module may write the next.
    void Reset();
    // The module still offers this preview memory (its event's name still names this event).
    bool StillOffered() const;

private:
    std::string eventName;
    const std::uint8_t* picture = nullptr;
    std::size_t pictureSize = 0;
    std::uint8_t* event = nullptr;
    std::uint64_t eventInode = 0;
};

} // namespace vyxview
