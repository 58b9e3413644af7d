#pragma once

#include "engine/RenderTestSupport.h"

// The engine with its timecode reader replaced by a script, so figures that
// take hours of timecode are checked in microseconds.
class ScriptedEngine : public TestableEngine {
public:
    using TestableEngine::TestableEngine;
    Timecode getTimecode() const override { return timecode; }
    bool hasValidTimecode() const override { return valid; }
    double getDetectedFramerate() const override { return detectedFps; }

    Timecode timecode;
    bool valid = false;
    double detectedFps = 25.0;
};
