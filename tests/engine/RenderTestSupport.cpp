#include "RenderTestSupport.h"

#include <map>
#include <numbers>
#include <sndfile.h>

void RenderTest::SetUp()
{
    EngineTest::SetUp();
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    inputNames_ = engine_->getAvailableInputChannels();
    outputNames_ = engine_->getAvailableOutputChannels();
    device_ = system_->findDevice("Virtual Interface");
    ASSERT_EQ(inputNames_.size(), 8u);
    ASSERT_EQ(outputNames_.size(), 8u);
}

void RenderTest::whileStopped(const std::function<void()>& change)
{
    ASSERT_TRUE(engine_->stop());
    change();
    ASSERT_TRUE(engine_->start());
}

void RenderTest::routeInputs(const std::vector<std::string>& inputPorts)
{
    whileStopped([&] { engine_->setInputRouting(inputPorts); });
}

void RenderTest::routeOutputs(const std::vector<std::vector<std::string>>& trackOutputs,
                              const std::vector<std::string>& mixOutputs)
{
    whileStopped([&] {
        engine_->applyOutputRouting(trackOutputs, std::vector<std::map<std::string, bool>>(trackOutputs.size()),
                                    outputNames_, {}, mixOutputs, {}, {});
    });
}

void RenderTest::feed(uint32_t channel, std::vector<float> samples)
{
    ASSERT_TRUE(system_->feedInput(device_, channel, std::move(samples)));
}

std::vector<std::vector<float>> RenderTest::render(int blocks, uint32_t frames)
{
    system_->takeOutput(device_);
    system_->renderBlocks(blocks, frames);
    return system_->takeOutput(device_);
}

std::vector<float> sine(double frequencyHz, double amplitude, size_t frames, double rate)
{
    std::vector<float> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * i / rate));
    return samples;
}

double rms(const std::vector<float>& samples, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

bool writeWavWithSndfile(const std::string& path, int channels, int subtype, const std::vector<float>& interleaved)
{
    if (channels < 1)
        return false;
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / static_cast<size_t>(channels));
    const bool written = sf_writef_float(file, interleaved.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}
