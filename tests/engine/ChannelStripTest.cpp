#include "EngineTestSupport.h"

#include "core/ConfigManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using ChannelStripTest = EngineTest;

size_t countOf(const std::string& text, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

TEST_F(ChannelStripTest, EmptyConfigurationLoadsFlatStripsAndLogsEveryLimiter)
{
    for (int t = 0; t < 32; ++t) {
        EXPECT_EQ(engine_->getTargetTrackGain(t), 1.0f);
        EXPECT_EQ(engine_->getTrackDigitalGain(t), 0.0f);
        EXPECT_FALSE(engine_->getTrackHPFEnabled(t));
        EXPECT_EQ(engine_->getTrackHPFFrequency(t), 80.0f);
        EXPECT_FALSE(engine_->getTrackEQEnabled(t));
        const float expectedHz[3] = {100.0f, 1000.0f, 5000.0f};
        for (int b = 0; b < 3; ++b) {
            float hz = 0, gainDb = 9, q = 0;
            engine_->getTrackEQBand(t, b, hz, gainDb, q);
            EXPECT_EQ(hz, expectedHz[b]);
            EXPECT_EQ(gainDb, 0.0f);
            EXPECT_EQ(q, 1.0f);
        }
        EXPECT_FALSE(engine_->getTrackLimiterEnabled(t));
        EXPECT_EQ(engine_->getTrackLimiterThreshold(t), -6.0f);
    }
    const std::string log = home_.logText();
    const size_t begin = log.find("CoreAudio: Loading channel strip settings from config");
    const size_t end = log.find("CoreAudio: Channel strip settings loaded for 32 tracks");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(countOf(log.substr(begin, end - begin), "Limiter coefficients calculated for track "), 32u);
    EXPECT_TRUE(logHas("Limiter coefficients calculated for track 0: thresholdDb=-6.000000 thresholdLinear=0.501187"
                       " attack=0.188"));
}

// Every "track.*" key: the setter writes it, and a new engine loads it back.
TEST_F(ChannelStripTest, EveryKeyIsSavedAndLoadedBack)
{
    engine_->setTrackGain(3, 0.5f);
    engine_->setTrackDigitalGain(3, 7.5f);
    engine_->setTrackHPFEnabled(3, true);
    engine_->setTrackHPFFrequency(3, 120.0f);
    engine_->setTrackEQEnabled(3, true);
    engine_->setTrackEQBand(3, 1, 2500.0f, -4.5f, 2.0f);
    engine_->setTrackLimiterEnabled(3, true);
    engine_->setTrackLimiterThreshold(3, -3.0f);

    ConfigManager* config = ConfigManager::getInstance();
    struct FloatKey {
        const char* key;
        float value;
    };
    const FloatKey floats[] = {
        {"track.gain.3", 20.0f * std::log10(0.5f)}, {"track.digitalGain.3", 7.5f},
        {"track.hpf.frequency.3", 120.0f},          {"track.eq.3.band1.freq", 2500.0f},
        {"track.eq.3.band1.gain", -4.5f},           {"track.eq.3.band1.q", 2.0f},
        {"track.limiter.threshold.3", -3.0f},
    };
    for (const FloatKey& entry : floats)
        EXPECT_NEAR(config->getFloat(entry.key, 999.0f), entry.value, 1e-4f) << entry.key;
    for (const char* key : {"track.hpf.enabled.3", "track.eq.enabled.3", "track.limiter.enabled.3"})
        EXPECT_TRUE(config->getBool(key, false)) << key;

    // The file on disk holds them: a reload from it and a new engine agree.
    ASSERT_TRUE(config->loadConfig(config->getConfigPath()));
    TestableEngine reloaded(system_, 1);
    reloaded.initialize();
    EXPECT_NEAR(reloaded.getTargetTrackGain(3), 0.5f, 1e-5f);
    EXPECT_NEAR(reloaded.getTrackDigitalGain(3), 7.5f, 1e-4f);
    EXPECT_TRUE(reloaded.getTrackHPFEnabled(3));
    EXPECT_EQ(reloaded.getTrackHPFFrequency(3), 120.0f);
    EXPECT_TRUE(reloaded.getTrackEQEnabled(3));
    float hz = 0, gainDb = 0, q = 0;
    reloaded.getTrackEQBand(3, 1, hz, gainDb, q);
    EXPECT_EQ(hz, 2500.0f);
    EXPECT_EQ(gainDb, -4.5f);
    EXPECT_EQ(q, 2.0f);
    EXPECT_TRUE(reloaded.getTrackLimiterEnabled(3));
    EXPECT_EQ(reloaded.getTrackLimiterThreshold(3), -3.0f);
}

TEST_F(ChannelStripTest, FaderSilenceIsSavedAsMinusSixtyAndLoadsAtMinusFiftyNine)
{
    ConfigManager* config = ConfigManager::getInstance();
    engine_->setTrackGain(0, 0.0f);
    EXPECT_EQ(config->getFloat("track.gain.0", 0.0f), -60.0f);
    engine_->setTrackGain(1, -0.5f);
    EXPECT_EQ(config->getFloat("track.gain.1", 0.0f), -60.0f);
    EXPECT_EQ(engine_->getTargetTrackGain(1), -0.5f) << "stored and applied unchanged";
    engine_->setTrackGain(2, 1.8f);
    EXPECT_EQ(engine_->getTargetTrackGain(2), 1.8f);

    config->setFloat("track.gain.4", -59.0f);
    config->setFloat("track.gain.5", -58.9f);
    TestableEngine reloaded(system_, 1);
    reloaded.initialize();
    EXPECT_EQ(reloaded.getTargetTrackGain(4), 0.0f);
    EXPECT_NEAR(reloaded.getTargetTrackGain(5), std::pow(10.0f, -58.9f / 20.0f), 1e-7f);
}

TEST_F(ChannelStripTest, EqBandOutsideTheThreeBandsChangesAndSavesNothing)
{
    for (const int band : {3, -1}) {
        engine_->setTrackEQBand(2, band, 300.0f, 6.0f, 3.0f);
        float hz = 0, gainDb = 0, q = 0;
        engine_->getTrackEQBand(2, band, hz, gainDb, q);
        EXPECT_EQ(hz, 1000.0f);
        EXPECT_EQ(gainDb, 0.0f);
        EXPECT_EQ(q, 1.0f);
        EXPECT_EQ(ConfigManager::getInstance()->getFloat("track.eq.2.band" + std::to_string(band) + ".freq", -1.0f),
                  -1.0f);
    }
}

TEST_F(ChannelStripTest, LimiterSwitchedOnComputesCoefficientsOnlyWhenNeverComputed)
{
    const std::string needle = "Limiter coefficients calculated for track ";
    const size_t before = countOf(home_.logText(), needle);
    engine_->setTrackLimiterEnabled(3, true);
    EXPECT_EQ(countOf(home_.logText(), needle), before) << "the load computed track 3 already";
    engine_->setTrackLimiterEnabled(40, true);
    EXPECT_EQ(countOf(home_.logText(), needle), before + 1);
    EXPECT_TRUE(logHas("Limiter coefficients calculated for track 40: thresholdDb=-6.000000"));
    EXPECT_TRUE(ConfigManager::getInstance()->getBool("track.limiter.enabled.40", false));
}

// Values that would give NaN or unstable coefficients are limited; values
// that are not numbers are refused and change nothing.
TEST_F(ChannelStripTest, FilterParametersAreLimitedAndNaNIsRefused)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        float hz, gainDb, q;
        float expectHz, expectGainDb, expectQ;
    };
    const Case cases[] = {
        {"Q of 0", 1000.0f, 3.0f, 0.0f, 1000.0f, 3.0f, 0.05f},
        {"negative Q", 1000.0f, 3.0f, -2.0f, 1000.0f, 3.0f, 0.05f},
        {"frequency at Nyquist", 24000.0f, 3.0f, 1.0f, 21600.0f, 3.0f, 1.0f},
        {"frequency far above", 1.0e6f, 3.0f, 1.0f, 21600.0f, 3.0f, 1.0f},
        {"frequency 0", 0.0f, 3.0f, 1.0f, 10.0f, 3.0f, 1.0f},
        {"NaN frequency", nan, 3.0f, 1.0f, 10.0f, 3.0f, 1.0f},  // refused: the previous case stays
        {"NaN Q", 500.0f, 3.0f, nan, 10.0f, 3.0f, 1.0f},
        {"NaN gain", 500.0f, nan, 1.0f, 10.0f, 3.0f, 1.0f},
    };
    for (const Case& c : cases) {
        engine_->setTrackEQBand(6, 0, c.hz, c.gainDb, c.q);
        float hz = 0, gainDb = 0, q = 0;
        engine_->getTrackEQBand(6, 0, hz, gainDb, q);
        EXPECT_EQ(hz, c.expectHz) << c.what;
        EXPECT_EQ(gainDb, c.expectGainDb) << c.what;
        EXPECT_EQ(q, c.expectQ) << c.what;
    }
    engine_->setTrackHPFFrequency(6, 30000.0f);
    EXPECT_EQ(engine_->getTrackHPFFrequency(6), 21600.0f);
    engine_->setTrackHPFFrequency(6, nan);
    EXPECT_EQ(engine_->getTrackHPFFrequency(6), 21600.0f);
    engine_->setTrackLimiterThreshold(6, nan);
    EXPECT_EQ(engine_->getTrackLimiterThreshold(6), -6.0f);
    engine_->setTrackDigitalGain(6, nan);
    EXPECT_EQ(engine_->getTrackDigitalGain(6), 0.0f);
    engine_->setTrackGain(6, nan);
    EXPECT_EQ(engine_->getTargetTrackGain(6), 1.0f);
}

}  // namespace
