#pragma once

#include <cstddef>
#include <cstdint>

// A list of MIDI packets in one flat buffer: a 32-bit packet count, then the
// packets, each a 64-bit time stamp (steady-clock nanoseconds), a 16-bit
// length and that many data bytes, the next packet starting at the first
// 4-byte boundary after the data. Values are in host byte order.
//
// The view never reads outside its buffer: a packet whose length runs past
// the end ends the walk, whatever the count says.
class MidiPacketListView {
public:
    struct Packet {
        uint64_t timeStamp = 0;
        const uint8_t* data = nullptr;
        uint16_t length = 0;
        size_t offset = 0;  // where the packet starts in the buffer
        uint32_t index = 0;
        bool valid = false;
    };

    MidiPacketListView(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    uint32_t count() const;
    // The first packet; invalid when the list is empty or malformed.
    Packet first() const;
    // The packet after `packet`, invalid past the count or the buffer.
    Packet next(const Packet& packet) const;

    const uint8_t* bytes() const { return bytes_; }
    size_t size() const { return size_; }

private:
    Packet packetAt(size_t offset, uint32_t index) const;

    const uint8_t* bytes_;
    size_t size_;
};

// Fills a caller's buffer with a packet list; nothing is allocated, so it can
// build a list on the stack of any thread.
class MidiPacketListBuilder {
public:
    static constexpr size_t kHeaderBytes = 4;
    static constexpr size_t kPacketHeaderBytes = 10;  // time stamp and length

    // An empty list in `buffer`; a buffer too small for the count holds none.
    MidiPacketListBuilder(uint8_t* buffer, size_t capacity);

    // Appends one packet; false (and the list unchanged) when it does not fit
    // or has no bytes.
    bool add(uint64_t timeStamp, const uint8_t* data, size_t length);

    MidiPacketListView view() const { return MidiPacketListView(buffer_, used_); }

private:
    uint8_t* buffer_;
    size_t capacity_;
    size_t used_ = 0;
    uint32_t count_ = 0;
};

// Time stamp for "now" in the packet lists' time base.
uint64_t midiTimeStampNow();
