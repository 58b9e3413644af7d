#include "realtime/RenderThreadMark.h"

namespace {

thread_local bool inRenderCallback = false;

}  // namespace

namespace RenderThreadMark {

bool isInRenderCallback()
{
    return inRenderCallback;
}

Scope::Scope()
{
    inRenderCallback = true;
}

Scope::~Scope()
{
    inRenderCallback = false;
}

}  // namespace RenderThreadMark
