#pragma once

#include "engine/AudioEngine_CoreAudio.h"
#include "engine/AudioEngineFactory.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// An engine on a given audio system that writes no takes and opens no
// device: it records, in order, what the window tells it about takes, the
// slate, COM and the test tone, and reports a running device. Handed to the
// window through the factory's test seam. GUI thread only.
class EngineDouble : public AudioEngine_CoreAudio {
public:
    using Clock = std::chrono::steady_clock;

    explicit EngineDouble(std::shared_ptr<AudioSystem> system)
        : AudioEngine_CoreAudio(std::move(system), 1)
    {
    }

    // Makes every engine of the program a double until `uninstall`.
    static void install(std::shared_ptr<AudioSystem> system)
    {
        AudioEngineFactory::setEngineMakerForTests(
            [system] { return std::unique_ptr<AudioEngineBase>(new EngineDouble(system)); });
    }
    static void uninstall() { AudioEngineFactory::setEngineMakerForTests({}); }

    bool startRecording() override
    {
        calls.push_back("startRecording");
        starts.push_back(Clock::now());
        recording_ = true;
        return true;
    }
    bool stopRecording() override
    {
        calls.push_back("stopRecording");
        stops.push_back(Clock::now());
        recording_ = false;
        return true;
    }
    bool isRecording() const override { return recording_; }
    bool isWriterDraining() const override { return false; }
    bool isRunning() const override { return true; }
    std::string getCurrentDeviceName() const override { return "Virtual Interface"; }

    void enableSlateMic(bool on) override { log("enableSlateMic", on); AudioEngine_CoreAudio::enableSlateMic(on); }
    void setSlateMicMonitorOnly(bool on) override
    {
        log("setSlateMicMonitorOnly", on);
        AudioEngine_CoreAudio::setSlateMicMonitorOnly(on);
    }
    void enableSlateMicToCom(bool on) override
    {
        log("enableSlateMicToCom", on);
        AudioEngine_CoreAudio::enableSlateMicToCom(on);
    }
    void setComInput1Enabled(bool on) override
    {
        log("setComInput1Enabled", on);
        AudioEngine_CoreAudio::setComInput1Enabled(on);
    }
    void setComInput2Enabled(bool on) override
    {
        log("setComInput2Enabled", on);
        AudioEngine_CoreAudio::setComInput2Enabled(on);
    }
    void setTestToneEnabled(bool on) override
    {
        log("setTestToneEnabled", on);
        AudioEngine_CoreAudio::setTestToneEnabled(on);
    }

    // Calls whose name starts with one of `prefixes`, in order.
    std::vector<std::string> callsOf(const std::vector<std::string>& prefixes) const
    {
        std::vector<std::string> result;
        for (const std::string& call : calls) {
            for (const std::string& prefix : prefixes) {
                if (call.rfind(prefix, 0) == 0) {
                    result.push_back(call);
                    break;
                }
            }
        }
        return result;
    }

    std::vector<std::string> calls;
    std::vector<Clock::time_point> starts;
    std::vector<Clock::time_point> stops;

private:
    void log(const char* name, bool on) { calls.push_back(std::string(name) + (on ? "(true)" : "(false)")); }

    bool recording_ = false;
};
