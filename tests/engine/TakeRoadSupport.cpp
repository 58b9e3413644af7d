#include "TakeRoadSupport.h"

#include "core/ConfigManager.h"

#include <sndfile.h>

#include <map>

void TakeRoadTest::setUpTakeRoad(int ringSeconds, int fileFormat, VirtualAudioSystem::Mode mode, int trackCount)
{
    makeEngine(VirtualAudioDescription::builtInDefault(), mode, ringSeconds);
    ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/Recordings");
    device_ = system_->findDevice("Virtual Interface");
    // Fed before the device is selected: the first rendered sample is the
    // fed signal's sample 0 at ring position 0.
    for (int c = 0; c < kLtcChannel; ++c) {
        std::vector<float> signal(kFedFrames);
        for (size_t k = 0; k < kFedFrames; ++k)
            signal[k] = fedSample(c, k);
        ASSERT_TRUE(system_->feedInput(device_, static_cast<uint32_t>(c), std::move(signal)));
    }
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    const std::vector<std::string> inputs = engine_->getAvailableInputChannels();
    const std::vector<std::string> outputs = engine_->getAvailableOutputChannels();
    ASSERT_EQ(inputs.size(), 8u);
    ASSERT_TRUE(engine_->stop());
    engine_->setInputRouting(std::vector<std::string>(inputs.begin(), inputs.begin() + trackCount));
    engine_->applyOutputRouting(std::vector<std::vector<std::string>>(8), std::vector<std::map<std::string, bool>>(8),
                                outputs, {}, {outputs[0]}, {}, {});
    ASSERT_TRUE(engine_->start());
    // The engine's own LTC reader listens to the LTC input, as in a session.
    engine_->setLtcInputPort(inputs[kLtcChannel]);
    engine_->setLtcInputEnabled(true);
    engine_->setMediaFormat(fileFormat, 32);
    engine_->setSampleFormat(BwfFileWriter::Float32);
    if (mode == VirtualAudioSystem::Mode::Stepped) {
        ASSERT_EQ(writePosition(), 0u);
    }
}

void TakeRoadTest::armTracks(std::initializer_list<int> tracks)
{
    for (const int t : tracks)
        engine_->setTrackArmed(t, true);
}

void TakeRoadTest::step(uint64_t frames)
{
    for (uint64_t done = 0; done < frames; done += kBlockFrames) {
        const uint64_t position = writePosition();
        system_->renderBlocks(1, kBlockFrames);
        const std::vector<std::vector<float>> out = system_->takeOutput(device_);
        mixByPosition_.resize(position);
        mixByPosition_.insert(mixByPosition_.end(), out[0].begin(), out[0].end());
    }
}

bool TakeRoadTest::waitUntilIdle()
{
    return engine_->waitForWriterIdle(std::chrono::seconds(30));
}

int TakeRoadTest::logCount(const std::string& text) const
{
    const std::string log = home_.logText();
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

float TakeRoadTest::fedSample(int channel, uint64_t k)
{
    // A multiplicative walk through 0..kModulus-1: distinct for every sample
    // of the fed length, and exactly representable.
    constexpr uint64_t kModulus = 1'000'003;
    const uint64_t value = (k * 7919 + static_cast<uint64_t>(channel) * 104729 + 1) % kModulus;
    return static_cast<float>(value) / static_cast<float>(kModulus) - 0.5f;
}

float TakeRoadTest::expectedMix(uint64_t position) const
{
    return position < mixByPosition_.size() ? mixByPosition_[position] : -99.0f;
}

AudioFile readWithSndfile(const std::string& path)
{
    AudioFile file;
    SF_INFO info{};
    SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
    if (handle == nullptr)
        return file;
    file.channels = info.channels;
    file.frames = info.frames;
    file.samples.resize(static_cast<size_t>(info.frames * info.channels));
    file.ok = sf_readf_float(handle, file.samples.data(), info.frames) == info.frames;
    sf_close(handle);
    return file;
}

float fadeGain(int64_t frame, int64_t frames)
{
    const int64_t fadeFrames = std::min<int64_t>(64, frames);
    const int64_t k = frame - (frames - fadeFrames);
    return k < 0 ? 1.0f : 1.0f - static_cast<float>(k) / static_cast<float>(fadeFrames);
}
