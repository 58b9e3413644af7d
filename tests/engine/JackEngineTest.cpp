// The engine on a JACK server of the test's own, end to end: a take has the
// tester's signals on the right tracks and a time reference that is the LTC
// it heard; the mix reaches the tester; a server killed under a take ends
// the take cleanly; an xrun shows in the dropped samples; another rate is
// refused; after stop the engine is not called.
#include "JackEngineFixture.h"

#include <sndfile.h>

namespace {

using namespace JackEngine;

struct TakeFile {
    bool ok = false;
    int channels = 0;
    int64_t frames = 0;
    std::vector<float> samples;
    int64_t timeReference = -1;
    float at(int64_t frame, int channel) const { return samples[static_cast<size_t>(frame * channels + channel)]; }
};

// Samples and time reference through libsndfile, not our reader.
TakeFile readTake(const std::string& path)
{
    TakeFile file;
    SF_INFO info{};
    SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
    if (handle == nullptr)
        return file;
    file.channels = info.channels;
    file.frames = info.frames;
    file.samples.resize(static_cast<size_t>(info.frames * info.channels));
    file.ok = sf_readf_float(handle, file.samples.data(), info.frames) == info.frames;
    SF_BROADCAST_INFO bext{};
    if (sf_command(handle, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE)
        file.timeReference = (static_cast<int64_t>(bext.time_reference_high) << 32) | bext.time_reference_low;
    sf_close(handle);
    return file;
}

// Where known signal `channel` stood at the column's first frame; -1 when
// the column does not start inside it.
int64_t signalOffset(const TakeFile& file, int column, int channel)
{
    for (uint64_t offset = 0; offset < kSignalFrames; ++offset) {
        if (knownSample(channel, offset) == file.at(0, column))
            return static_cast<int64_t>(offset);
    }
    return -1;
}

float fadeGain(int64_t frame, int64_t frames)
{
    const int64_t fadeFrames = std::min<int64_t>(64, frames);
    const int64_t k = frame - (frames - fadeFrames);
    return k < 0 ? 1.0f : 1.0f - static_cast<float>(k) / static_cast<float>(fadeFrames);
}

// Column `column` against known signal `channel` from `offset` on: the
// frames that are not the signal's next one, either because periods of it
// never reached the take (a gap) or because the take holds a period the
// tester did not play (an insertion). 0 for a sample-exact column.
int64_t framesOffSignal(const TakeFile& take, int column, int channel, int64_t offset)
{
    constexpr int64_t kLongestGap = kRate;
    int64_t position = offset;
    int64_t off = 0;
    for (int64_t k = 0; k < take.frames; ++k) {
        const float gain = fadeGain(k, take.frames);
        const float value = take.at(k, column);
        if (value == knownSample(channel, static_cast<uint64_t>(position)) * gain) {
            ++position;
            continue;
        }
        int64_t gap = 1;
        while (gap <= kLongestGap && value != knownSample(channel, static_cast<uint64_t>(position + gap)) * gain)
            ++gap;
        if (gap <= kLongestGap) {
            off += gap;
            position += gap + 1;
        } else {
            ++off;
        }
    }
    return off;
}

TEST_F(JackEngineTest, TakeCarriesTheTestersSignalsAndTheLtcTime)
{
    selectJackAndConnectTester();
    ASSERT_FALSE(HasFatalFailure());
    engine_->setPrerollDuration(1);
    engine_->setPostrollDuration(1);
    for (const int track : {0, 2, 3})
        engine_->setTrackArmed(track, true);
    // Joining the graph may cost the server a period; from here on the take
    // must match the tester's signals sample for sample, except where the
    // server skipped periods (a loaded machine without real-time scheduling
    // does), which the dropped-samples figure must then own up to.
    const int64_t droppedBefore = engine_->getDroppedSamples();
    const uint64_t xrunsBefore = jack_->xrunCount();
    waitSeconds(2.0);
    ASSERT_TRUE(engine_->startRecording());
    waitSeconds(2.0);
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(engine_->waitForWriterIdle(kWait));
    const int64_t lost = engine_->getDroppedSamples() - droppedBefore;
    const uint64_t xruns = jack_->xrunCount() - xrunsBefore;
    EXPECT_EQ(lost > 0, xruns > 0) << xruns << " xruns, " << lost << " samples counted as dropped";
    // What one skipped period can disturb: the frames lost, and as many
    // played by the tester that did not reach the recorder in order.
    const int64_t allowedOff = 2 * lost;
    EXPECT_EQ(engine_->getWriteErrors(), 0);

    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 1u);
    const TakeFile take = readTake(files[0]);
    ASSERT_TRUE(take.ok) << files[0];
    // The mix, then tracks 0, 2 and 3.
    ASSERT_EQ(take.channels, 4);
    // Pre-roll, 2 s, post-roll: the test counts the tester's periods, which
    // run a period or so ahead of the engine's.
    EXPECT_GE(take.frames, 4 * kRate - 4 * 256 - lost);
    EXPECT_LT(take.frames, 5 * kRate);
    // Both signals arrive in the same period: one offset for both tracks.
    const int64_t offset = signalOffset(take, 1, 0);
    ASSERT_GE(offset, 0) << "track 1 does not start inside signal 0";
    EXPECT_EQ(signalOffset(take, 2, 1), offset) << "track 3 carries signal 1 from the same frame";
    EXPECT_LE(framesOffSignal(take, 1, 0, offset), allowedOff) << "track 1 vs signal 0";
    EXPECT_LE(framesOffSignal(take, 2, 1, offset), allowedOff) << "track 3 vs signal 1";
    // The tester's LTC labels its sample `offset` with this time.
    ASSERT_GE(take.timeReference, 0) << "no bext chunk read by libsndfile";
    EXPECT_NEAR(take.timeReference, kLtcStartSamples + offset, lost);

    // The mix went out of output 1 to the listener: a second of the take's
    // mix column is there, sample for sample and in order (where a period was
    // skipped the listener may lack it, or hold one the take lacks).
    const std::vector<float> heard = listener_.recorded(0);
    const int64_t from = kRate;
    size_t at = 0;
    while (at < heard.size() && heard[at] != take.at(from, 0))
        ++at;
    ASSERT_LT(at, heard.size()) << "the mix never reached the listener";
    constexpr size_t kLongestGap = 4096;
    int64_t mixOff = 0;
    for (int64_t k = 0; k < kRate; ++k) {
        const float value = take.at(from + k, 0);
        size_t next = at;
        while (next < heard.size() && next < at + kLongestGap && heard[next] != value)
            ++next;
        if (next < heard.size() && heard[next] == value) {
            mixOff += static_cast<int64_t>(next - at);  // heard frames the take lacks
            at = next + 1;
        } else {
            ++mixOff;  // a take frame the listener lacks
        }
    }
    EXPECT_LE(mixOff, allowedOff);
}

TEST_F(JackEngineTest, ServerKilledUnderATakeStopsTheEngineAndTheTakeCloses)
{
    selectJackAndConnectTester();
    ASSERT_FALSE(HasFatalFailure());
    watchDeviceDeath();
    ASSERT_FALSE(HasFatalFailure());
    engine_->setPrerollDuration(0);
    engine_->setPostrollDuration(0);
    engine_->setTrackArmed(0, true);
    waitSeconds(0.5);
    ASSERT_TRUE(engine_->startRecording());
    waitSeconds(0.5);
    const int64_t writeErrorsBefore = engine_->getWriteErrors();

    server_->kill();
    ASSERT_TRUE(waitForDeviceDeath());
    EXPECT_FALSE(engine_->isRunning());
    EXPECT_GT(engine_->getWriteErrors(), writeErrorsBefore);
    EXPECT_TRUE(logHas("is no longer alive"));
    const uint64_t cycles = engine_->getRenderCycleCount();

    // A routing change retires the old routing while the unit is started but
    // gets no cycles: it is kept until the unit stops, not freed under it.
    engine_->setInputRouting({inputs_[1], inputs_[0]});
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(engine_->waitForWriterIdle(kWait));
    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 1u);
    const TakeFile take = readTake(files[0]);
    ASSERT_TRUE(take.ok) << files[0];
    EXPECT_GE(take.frames, kRate / 2) << "what was recorded before the server died is kept";

    // The recordist goes on with the virtual interface.
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    EXPECT_TRUE(engine_->isRunning());
    EXPECT_EQ(engine_->getRenderCycleCount() >= cycles, true);
}

TEST_F(JackEngineTest, BufferSizeAskedIsSettledByTheServer)
{
    selectJackAndConnectTester();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(engine_->setBufferSize(100));
    EXPECT_EQ(engine_->getBufferSize(), 128);
    uint32_t frames = 0;
    ASSERT_EQ(jack_->getBufferFrameSize(JackAudioSystem::kDeviceId, frames), kAudioOk);
    EXPECT_EQ(frames, 128u);
    EXPECT_TRUE(engine_->isRunning());
    const uint64_t cycles = engine_->getRenderCycleCount();
    waitSeconds(0.1);
    EXPECT_GT(engine_->getRenderCycleCount(), cycles) << "the engine renders again at the new size";
}

TEST_F(JackEngineTest, XrunCountsIntoTheDroppedSamples)
{
    selectJackAndConnectTester(false);
    ASSERT_FALSE(HasFatalFailure());
    waitSeconds(0.2);
    const int64_t droppedBefore = engine_->getDroppedSamples();
    const uint64_t xrunsBefore = jack_->xrunCount();
    tester_.stallNextCycle(40);
    waitSeconds(0.2);
    EXPECT_GT(jack_->xrunCount(), xrunsBefore);
    EXPECT_GE(engine_->getDroppedSamples() - droppedBefore, 256) << "at least a period per xrun";
}

TEST_F(JackEngineTest, NoCallIntoTheEngineAfterStopOrShutdown)
{
    selectJackAndConnectTester();
    ASSERT_FALSE(HasFatalFailure());
    waitSeconds(0.1);
    ASSERT_TRUE(engine_->stop());
    const uint64_t atStop = engine_->getRenderCycleCount();
    waitSeconds(0.1);
    EXPECT_EQ(engine_->getRenderCycleCount(), atStop);

    ASSERT_TRUE(engine_->start());
    waitSeconds(0.1);
    EXPECT_GT(engine_->getRenderCycleCount(), atStop);
    engine_->shutdown();
    const uint64_t atShutdown = engine_->getRenderCycleCount();
    waitSeconds(0.1);
    EXPECT_EQ(engine_->getRenderCycleCount(), atShutdown);
}

class JackEngineAt44100Test : public JackEngineTest {
protected:
    void SetUp() override { SetUpServer(JackTestServer::Options{44100, 256, 2, 2}); }
};

TEST_F(JackEngineAt44100Test, ServerAtAnotherRateIsRefusedWithTheReason)
{
    EXPECT_FALSE(engine_->selectDevice(deviceName()));
    EXPECT_FALSE(engine_->isRunning());
    EXPECT_TRUE(logHas("JACK: " + deviceName() + " refused: the server runs at 44100 Hz, the engine records at "
                       "48000 Hz; restart the server at 48000 Hz"));
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
}

class JackEngineInputOnlyTest : public JackEngineTest {
protected:
    void SetUp() override { SetUpServer(JackTestServer::Options{48000, 256, 4, 0}); }
};

// A server without playback ports is an input-only device: the engine
// captures it directly (a JACK client of its own, connected to the capture
// ports) and renders on the default output, the virtual one here.
TEST_F(JackEngineInputOnlyTest, InputOnlyServerIsCapturedDirectly)
{
    ASSERT_TRUE(engine_->selectDevice(deviceName()));
    EXPECT_TRUE(engine_->isDirectCaptureActive());
    EXPECT_EQ(engine_->getDirectCaptureChannelCount(), 4);
    EXPECT_EQ(engine_->getAvailableInputChannels().size(), 4u);
    std::string error;
    ASSERT_TRUE(tester_.open(server_->name(), {}, 0, 0, error)) << error;
    const std::string capturePort = jack_->clientName() + "-capture:in_2";
    const std::vector<std::string> sources = tester_.connections(capturePort);
    EXPECT_EQ(sources, std::vector<std::string>{"system:capture_2"}) << capturePort;
    EXPECT_TRUE(engine_->isRunning());

    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    EXPECT_FALSE(engine_->isDirectCaptureActive());
    EXPECT_TRUE(tester_.connections(capturePort).empty()) << "the capture client left the server";
}

}  // namespace
