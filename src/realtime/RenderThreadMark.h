#pragma once

// Marks the stretch of a thread that runs the render callback, so test builds
// can count what happens on the audio thread (allocations, mutex calls) and
// nowhere else. Setting and reading it is a thread-local store and load.
namespace RenderThreadMark {

bool isInRenderCallback();

class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

}  // namespace RenderThreadMark
