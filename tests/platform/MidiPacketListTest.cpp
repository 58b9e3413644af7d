#include "platform/midi/MidiPacketList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<std::vector<uint8_t>> walk(const MidiPacketListView& view)
{
    std::vector<std::vector<uint8_t>> packets;
    for (auto p = view.first(); p.valid; p = view.next(p))
        packets.emplace_back(p.data, p.data + p.length);
    return packets;
}

}  // namespace

TEST(MidiPacketListTest, PacketsComeBackInOrderAcrossAlignmentPadding)
{
    uint8_t buffer[64];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    const std::vector<std::vector<uint8_t>> sent = {{0xB0, 7, 100}, {0xC3, 10}, {0x90, 60, 1}};
    for (const auto& packet : sent)
        ASSERT_TRUE(builder.add(1234, packet.data(), packet.size()));
    const MidiPacketListView view = builder.view();
    EXPECT_EQ(view.count(), 3u);
    EXPECT_EQ(walk(view), sent);
    EXPECT_EQ(view.first().timeStamp, 1234u);
    // The second packet starts on a 4-byte boundary after the first.
    EXPECT_EQ(view.next(view.first()).offset % 4, 0u);
}

TEST(MidiPacketListTest, BuilderRefusesWhatDoesNotFitAndKeepsTheList)
{
    uint8_t buffer[20];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    const uint8_t three[3] = {0x90, 1, 2};
    ASSERT_TRUE(builder.add(0, three, 3));  // 4 + 10 + 3 = 17 bytes
    EXPECT_FALSE(builder.add(0, three, 3));
    EXPECT_FALSE(builder.add(0, three, 0));
    EXPECT_EQ(builder.view().count(), 1u);

    uint8_t tiny[2];
    MidiPacketListBuilder none(tiny, sizeof tiny);
    EXPECT_FALSE(none.add(0, three, 3));
    EXPECT_EQ(none.view().count(), 0u);
}

TEST(MidiPacketListTest, MalformedListsNeverReadPastTheirBuffer)
{
    uint8_t buffer[64];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    const uint8_t bytes[3] = {0xB0, 1, 2};
    ASSERT_TRUE(builder.add(0, bytes, 3));
    const size_t size = builder.view().size();

    struct Case {
        const char* what;
        uint32_t count;
        uint16_t length;
        size_t size;
        size_t expectedPackets;
    };
    const Case cases[] = {
        {"count larger than the packets", 5, 3, size, 1},
        {"length running past the end", 1, 200, size, 0},
        {"buffer cut inside the packet header", 1, 3, 8, 0},
        {"zero count", 0, 3, size, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t copy[64];
        std::memcpy(copy, buffer, sizeof copy);
        std::memcpy(copy, &c.count, sizeof c.count);
        std::memcpy(copy + 4 + 8, &c.length, sizeof c.length);
        EXPECT_EQ(walk(MidiPacketListView(copy, c.size)).size(), c.expectedPackets);
    }
    EXPECT_EQ(walk(MidiPacketListView(nullptr, 0)).size(), 0u);
}
