#pragma once

// An engine recording from a jackd of the test's own: the virtual devices
// and the JACK device combined as the program combines them, the JACK
// device selected, the tester playing known signals (and LTC) into the
// recorder's inputs and the listener recording its first output.

#include "core/ConfigManager.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "platform/audio/CombinedAudioSystem.h"
#include "platform/audio/JackAudioSystem.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "platform/jack/JackTestClient.h"
#include "platform/jack/JackTestServer.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <ltc.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace JackEngine {

constexpr int kRate = 48000;
constexpr int kLtcFps = 25;
constexpr int kLtcFrameSamples = kRate / kLtcFps;
// Within the million samples knownSample keeps distinct.
constexpr size_t kSignalFrames = 20 * kRate;
// The LTC the tester plays starts at 10:00:00:00.
constexpr int64_t kLtcStartSamples = 10LL * 3600 * kLtcFps * kLtcFrameSamples;
constexpr auto kWait = std::chrono::seconds(20);

// LTC at 25 fps from 10:00:00:00 on, as an interface's timecode input hears it.
inline std::vector<float> ltcSignal(size_t frames)
{
    LTCEncoder* encoder = ltc_encoder_create(kRate, kLtcFps, LTC_TV_625_50, LTC_USE_DATE);
    SMPTETimecode start{};
    std::snprintf(start.timezone, sizeof(start.timezone), "+0000");
    start.years = 26;
    start.months = 1;
    start.days = 1;
    start.hours = 10;
    ltc_encoder_set_timecode(encoder, &start);
    std::vector<float> signal;
    std::vector<ltcsnd_sample_t> bytes(static_cast<size_t>(kLtcFrameSamples) * 2);
    while (signal.size() < frames) {
        ltc_encoder_encode_frame(encoder);
        const int count = ltc_encoder_copy_buffer(encoder, bytes.data());
        for (int i = 0; i < count; ++i)
            signal.push_back((static_cast<float>(bytes[static_cast<size_t>(i)]) - 128.0f) / 256.0f);
        ltc_encoder_inc_timecode(encoder);
    }
    ltc_encoder_free(encoder);
    signal.resize(frames);
    return signal;
}

class JackEngineTest : public TempHomeTest {
protected:
    void SetUp() override { SetUpServer(JackTestServer::Options{}); }
    void TearDown() override
    {
        if (jack_)
            jack_->removeDeviceAliveListener(JackAudioSystem::kDeviceId, &JackEngineTest::onDeviceAlive, this);
        // Engine first: its unit is a client of the system's server.
        engine_.reset();
        tester_.close();
        listener_.close();
        system_.reset();
    }

    void SetUpServer(const JackTestServer::Options& options)
    {
        server_ = std::make_unique<JackTestServer>(options);
        TONVALE_REQUIRE_JACKD(*server_);
        std::string error;
        jack_ = JackAudioSystem::connect(server_->name(), error, jackTestClientName("tonvale"));
        ASSERT_TRUE(jack_) << error << "\n" << server_->logTail();
        virtual_ = std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::RealTime,
                                                        VirtualAudioDescription::builtInDefault());
        system_ = std::make_shared<CombinedAudioSystem>(std::vector<std::shared_ptr<AudioSystem>>{virtual_, jack_});
        engine_ = std::make_unique<AudioEngine_CoreAudio>(system_, 8);
        engine_->initialize();
        ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/Recordings");
    }

    std::string deviceName() const { return "JACK (" + server_->name() + ")"; }

    // Tracks 0..3 fed by the device's inputs 1..4, the mix on output 1, the
    // LTC reader on input 4; then the tester plays signal 0 into input 1,
    // signal 1 into input 3 and LTC into input 4; the listener records
    // output 1.
    // `listen`: without the listener where periods are made to overrun: at
    // an xrun JACK starts the next period while a late client still writes,
    // so what a listener reads then is not defined.
    void selectJackAndConnectTester(bool listen = true)
    {
        ASSERT_TRUE(engine_->selectDevice(deviceName()));
        inputs_ = engine_->getAvailableInputChannels();
        outputs_ = engine_->getAvailableOutputChannels();
        ASSERT_EQ(inputs_, (std::vector<std::string>{"capture_1", "capture_2", "capture_3", "capture_4"}));
        ASSERT_EQ(outputs_, (std::vector<std::string>{"playback_1", "playback_2"}));
        ASSERT_TRUE(engine_->stop());
        engine_->setInputRouting(inputs_);
        engine_->applyOutputRouting(std::vector<std::vector<std::string>>(8), std::vector<std::map<std::string, bool>>(8),
                                    outputs_, {}, {outputs_[0]}, {}, {});
        ASSERT_TRUE(engine_->start());
        engine_->setLtcInputPort(inputs_[3]);
        engine_->setLtcInputEnabled(true);
        engine_->setForcedFramerate(kLtcFps);
        engine_->setMediaFormat(kFileFormatPolyphonic, 32);
        engine_->setSampleFormat(BwfFileWriter::Float32);

        std::string error;
        ASSERT_TRUE(tester_.open(server_->name(),
                                 {knownSignal(0, kSignalFrames), knownSignal(1, kSignalFrames),
                                  ltcSignal(kSignalFrames)},
                                 0, 0, error))
            << error;
        if (listen) {
            ASSERT_TRUE(listener_.open(server_->name(), {}, 1, kSignalFrames, error, "listener")) << error;
        }
        // The unit's ports are connected after the engine last started it:
        // deactivating a client drops its connections.
        ASSERT_TRUE(tester_.connect(tester_.outputPort(0), jack_->clientName() + ":in_1"));
        ASSERT_TRUE(tester_.connect(tester_.outputPort(1), jack_->clientName() + ":in_3"));
        ASSERT_TRUE(tester_.connect(tester_.outputPort(2), jack_->clientName() + ":in_4"));
        if (listen) {
            ASSERT_TRUE(listener_.connect(jack_->clientName() + ":out_1", listener_.inputPort(0)));
        }
    }

    // Waits for `seconds` of the server's periods.
    void waitSeconds(double seconds)
    {
        ASSERT_TRUE(tester_.waitForCycles(static_cast<uint64_t>(seconds * kRate / 256) + 1, kWait));
    }

    // Called after the engine's own listener (listeners run in the order
    // they were added, one after the other on the system's thread).
    void watchDeviceDeath()
    {
        ASSERT_EQ(jack_->addDeviceAliveListener(JackAudioSystem::kDeviceId, &JackEngineTest::onDeviceAlive, this),
                  kAudioOk);
    }
    bool waitForDeviceDeath()
    {
        std::unique_lock<std::mutex> lock(deathMutex_);
        return deathCondition_.wait_for(lock, kWait, [this] { return deviceDied_; });
    }
    static AudioStatus onDeviceAlive(AudioDeviceId, void* data)
    {
        auto* self = static_cast<JackEngineTest*>(data);
        std::lock_guard<std::mutex> lock(self->deathMutex_);
        self->deviceDied_ = true;
        self->deathCondition_.notify_all();
        return kAudioOk;
    }

    bool logHas(const std::string& text) const { return home_.logText().find(text) != std::string::npos; }

    std::unique_ptr<JackTestServer> server_;
    std::shared_ptr<JackAudioSystem> jack_;
    std::shared_ptr<VirtualAudioSystem> virtual_;
    std::shared_ptr<CombinedAudioSystem> system_;
    std::unique_ptr<AudioEngine_CoreAudio> engine_;
    JackTestClient tester_;
    JackTestClient listener_;
    std::vector<std::string> inputs_;
    std::vector<std::string> outputs_;
    std::mutex deathMutex_;
    std::condition_variable deathCondition_;
    bool deviceDied_ = false;
};

}  // namespace JackEngine
