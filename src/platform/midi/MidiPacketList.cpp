#include "platform/midi/MidiPacketList.h"

#include <chrono>
#include <cstring>

namespace {

size_t alignedToFour(size_t offset)
{
    return (offset + 3) & ~static_cast<size_t>(3);
}

}  // namespace

uint32_t MidiPacketListView::count() const
{
    if (bytes_ == nullptr || size_ < MidiPacketListBuilder::kHeaderBytes)
        return 0;
    uint32_t count = 0;
    std::memcpy(&count, bytes_, sizeof count);
    return count;
}

MidiPacketListView::Packet MidiPacketListView::first() const
{
    return packetAt(MidiPacketListBuilder::kHeaderBytes, 0);
}

MidiPacketListView::Packet MidiPacketListView::next(const Packet& packet) const
{
    if (!packet.valid)
        return Packet{};
    const size_t end = packet.offset + MidiPacketListBuilder::kPacketHeaderBytes + packet.length;
    return packetAt(alignedToFour(end), packet.index + 1);
}

MidiPacketListView::Packet MidiPacketListView::packetAt(size_t offset, uint32_t index) const
{
    Packet packet;
    if (index >= count() || offset + MidiPacketListBuilder::kPacketHeaderBytes > size_)
        return packet;
    std::memcpy(&packet.timeStamp, bytes_ + offset, sizeof packet.timeStamp);
    std::memcpy(&packet.length, bytes_ + offset + 8, sizeof packet.length);
    if (offset + MidiPacketListBuilder::kPacketHeaderBytes + packet.length > size_)
        return Packet{};
    packet.data = bytes_ + offset + MidiPacketListBuilder::kPacketHeaderBytes;
    packet.offset = offset;
    packet.index = index;
    packet.valid = true;
    return packet;
}

MidiPacketListBuilder::MidiPacketListBuilder(uint8_t* buffer, size_t capacity)
    : buffer_(buffer), capacity_(capacity)
{
    if (buffer_ != nullptr && capacity_ >= kHeaderBytes) {
        std::memset(buffer_, 0, kHeaderBytes);
        used_ = kHeaderBytes;
    }
}

bool MidiPacketListBuilder::add(uint64_t timeStamp, const uint8_t* data, size_t length)
{
    if (used_ < kHeaderBytes || data == nullptr || length == 0 || length > 0xFFFF)
        return false;
    const size_t start = count_ == 0 ? used_ : alignedToFour(used_);
    if (start + kPacketHeaderBytes + length > capacity_)
        return false;
    const uint16_t length16 = static_cast<uint16_t>(length);
    std::memset(buffer_ + used_, 0, start - used_);
    std::memcpy(buffer_ + start, &timeStamp, sizeof timeStamp);
    std::memcpy(buffer_ + start + 8, &length16, sizeof length16);
    std::memcpy(buffer_ + start + kPacketHeaderBytes, data, length);
    used_ = start + kPacketHeaderBytes + length;
    ++count_;
    std::memcpy(buffer_, &count_, sizeof count_);
    return true;
}

uint64_t midiTimeStampNow()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
