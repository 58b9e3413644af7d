// Playback of a take to chosen outputs and the monitor bus (PFL). Until the
// playback reader is part of the render path nothing plays.
#include "engine/AudioEngine_CoreAudio.h"

void AudioEngine_CoreAudio::setPlaybackOutputPort(int /*channel*/, const std::string& /*target*/) {}

bool AudioEngine_CoreAudio::startPlayback(const std::string& /*path*/)
{
    return false;
}

void AudioEngine_CoreAudio::stopPlayback() {}
void AudioEngine_CoreAudio::pausePlayback() {}
void AudioEngine_CoreAudio::resumePlayback() {}

bool AudioEngine_CoreAudio::isPlayingBack() const
{
    return false;
}

bool AudioEngine_CoreAudio::isPlaybackPaused() const
{
    return false;
}

double AudioEngine_CoreAudio::getPlaybackPosition() const
{
    return 0.0;
}

double AudioEngine_CoreAudio::getPlaybackDuration() const
{
    return 0.0;
}

void AudioEngine_CoreAudio::seekPlayback(double /*seconds*/) {}

void AudioEngine_CoreAudio::setPFLTrack(int /*track*/) {}

void AudioEngine_CoreAudio::setMonitorOutputRouting(const std::vector<std::string>& /*monitorPorts*/,
                                                    const std::vector<std::string>& /*outputPortNames*/)
{
}
