#include "core/SessionState.h"

#include <gtest/gtest.h>

namespace {

TEST(SessionStateTest, StartsEmptyAt48k)
{
    SessionState session;
    EXPECT_TRUE(session.tracks.empty());
    EXPECT_FALSE(session.modified);
    EXPECT_EQ(session.sampleRate, 48000);
    EXPECT_EQ(session.getTrack(0), nullptr);
    EXPECT_EQ(session.getTrack(-1), nullptr);
}

TEST(SessionStateTest, AddRemoveAndOutOfRangeIndices)
{
    SessionState session;
    auto shared = std::make_shared<Track>(3, "Boom");
    session.addTrack(shared);
    session.addTrack(shared);
    session.addTrack(std::make_shared<Track>(4, "Lav"));
    ASSERT_EQ(session.tracks.size(), 3u);
    EXPECT_EQ(session.getTrack(0), session.getTrack(1));
    EXPECT_TRUE(session.modified);

    session.modified = false;
    session.removeTrack(-1);
    session.removeTrack(3);
    EXPECT_EQ(session.tracks.size(), 3u);
    EXPECT_FALSE(session.modified);

    session.removeTrack(0);
    ASSERT_EQ(session.tracks.size(), 2u);
    EXPECT_TRUE(session.modified);
    EXPECT_EQ(session.getTrack(1)->name, "Lav");
    EXPECT_EQ(session.getTrack(2), nullptr);
}

TEST(SessionStateTest, TrackDefaults)
{
    Track track;
    EXPECT_EQ(track.id, 0);
    EXPECT_TRUE(track.name.empty());
    EXPECT_FLOAT_EQ(track.gainLinear, 1.0f);
    EXPECT_FLOAT_EQ(track.pan, 0.0f);
    EXPECT_FALSE(track.armed || track.muted || track.soloed);
}

} // namespace
