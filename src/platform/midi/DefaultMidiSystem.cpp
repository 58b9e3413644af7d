#include "platform/midi/DefaultMidiSystem.h"

#include "platform/midi/AlsaMidiSystem.h"

#include <mutex>

namespace {

std::mutex defaultMutex;
std::shared_ptr<MidiSystem> defaultSystem;

}  // namespace

std::shared_ptr<MidiSystem> defaultMidiSystem()
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    if (!defaultSystem)
        defaultSystem = std::make_shared<AlsaMidiSystem>();
    return defaultSystem;
}

void setDefaultMidiSystem(std::shared_ptr<MidiSystem> system)
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    defaultSystem = std::move(system);
}
