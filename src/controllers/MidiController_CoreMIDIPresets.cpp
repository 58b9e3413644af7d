#include "controllers/MidiController_CoreMIDI.h"

#include "core/DebugLog.h"

// Control registration and the built-in presets. All of it runs on the GUI
// thread while the input is being opened; the maps are shared with the
// decoder, so each registration holds callbackMutex.

namespace {

void logMapping(const char* what, int number, const char* to, int index)
{
    debugLog(std::string(what) + std::to_string(number) + to + std::to_string(index));
}

}  // namespace

void MidiController_CoreMIDI::setFaderMapping(int index, int number)
{
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToFader[number] = index;
        faderToCC[index] = number;
    }
    logMapping("Fader mapping: CC ", number, " -> Fader ", index);
}

void MidiController_CoreMIDI::setKnobMapping(int index, int number)
{
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToKnob[number] = index;
    }
    logMapping("Knob mapping: CC ", number, " -> Knob ", index);
}

void MidiController_CoreMIDI::setButtonMapping(int index, int number)
{
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToButton[number] = index;
        buttonToCC[index] = number;
    }
    logMapping("Button mapping: CC ", number, " -> Button ", index);
}

void MidiController_CoreMIDI::setTransportMapping(int index, int number)
{
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        transportToCC[index] = number;
        ccToTransport[number] = index;
    }
    logMapping("Transport mapping: CC ", number, " -> Transport button ", index);
}

void MidiController_CoreMIDI::setTransportNoteMapping(int index, int number)
{
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        transportToNote[index] = number;
        noteToTransport[number] = index;
    }
    logMapping("Transport note mapping: Note ", number, " -> Transport button ", index);
}

void MidiController_CoreMIDI::setButtonNoteMapping(int index, int number)
{
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        buttonToNote[index] = number;
        noteToButton[number] = index;
    }
    logMapping("Button note mapping: Note ", number, " -> Button ", index);
}

void MidiController_CoreMIDI::loadXTouchCompactMappings()
{
    debugLog("Loading X-Touch Compact mappings");
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToFader.clear();
        faderToCC.clear();
        ccToKnob.clear();
        transportToNote.clear();
        noteToTransport.clear();
    }
    for (int fader = 0; fader < 8; ++fader)
        setFaderMapping(fader, 1 + fader);
    for (int fader = 8; fader < 16; ++fader)
        setFaderMapping(fader, 28 + fader - 8);
    for (int knob = 0; knob < 16; ++knob)
        setKnobMapping(knob, 10 + knob);
    debugLog("X-Touch Compact mappings loaded");
}

void MidiController_CoreMIDI::loadNanoKontrol2Mappings()
{
    debugLog("Loading Korg nanoKONTROL2 mappings");
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToFader.clear();
        faderToCC.clear();
        ccToKnob.clear();
        ccToButton.clear();
    }
    for (int fader = 0; fader < 8; ++fader)
        setFaderMapping(fader, 82 + fader);
    // The eight knobs send CC 13 to 20 except 16; the fourth knob is the one
    // on CC 16 (the number its neighbours leave free).
    const int knobNumbers[8] = {13, 14, 15, 16, 17, 18, 19, 20};
    for (int knob = 0; knob < 8; ++knob)
        setKnobMapping(knob, knobNumbers[knob]);
    for (int button = 0; button < 8; ++button)
        setButtonMapping(button, 33 + button);
    for (int button = 8; button < 16; ++button)
        setButtonMapping(button, 21 + button - 8);
    for (int button = 16; button < 24; ++button)
        setButtonMapping(button, 41 + button - 16);
    const int transportNumbers[11] = {66, 67, 57, 58, 59, 60, 75, 76, 78, 79, 80};
    for (int transport = 0; transport < 11; ++transport)
        setTransportMapping(transport, transportNumbers[transport]);
    debugLog("Korg nanoKONTROL2 mappings loaded");
}

void MidiController_CoreMIDI::loadMIDIMixMappings()
{
    debugLog("Loading AKAI MIDIMix mappings");
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToFader.clear();
        faderToCC.clear();
        ccToKnob.clear();
        ccToButton.clear();
    }
    const int faderNumbers[9] = {19, 23, 27, 31, 49, 53, 57, 61, 62};
    for (int fader = 0; fader < 9; ++fader)
        setFaderMapping(fader, faderNumbers[fader]);
    // Two runs of four groups of three knobs each.
    int knob = 0;
    for (int base : {16, 46}) {
        for (int group = 0; group < 4; ++group) {
            for (int k = 0; k < 3; ++k)
                setKnobMapping(knob++, base + 4 * group + k);
        }
    }
    // Buttons come in pairs: button 2i on CC 3i + 1, button 2i + 1 on CC 3i + 3.
    for (int i = 0; i < 8; ++i) {
        setButtonMapping(2 * i, 3 * i + 1);
        setButtonMapping(2 * i + 1, 3 * i + 3);
    }
    setTransportMapping(0, 25);
    setTransportMapping(1, 27);
    setTransportMapping(10, 26);
    debugLog("AKAI MIDIMix mappings loaded");
}

void MidiController_CoreMIDI::loadCL12BridgeMappings()
{
    debugLog("Loading Sound Devices CL-12 Bridge mappings (RTP-MIDI from Raspberry Pi)");
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        ccToFader.clear();
        faderToCC.clear();
        noteToButton.clear();
        buttonToNote.clear();
    }
    for (int fader = 0; fader < 12; ++fader)
        setFaderMapping(fader, 1 + fader);
    for (int button = 0; button < 12; ++button)
        setButtonNoteMapping(button, 36 + button);
    debugLog("CL-12 Bridge mappings loaded:");
    debugLog("  Faders 1-12 -> CC 1-12 (Channel 1)");
    debugLog("  PFL Buttons 1-12 -> Notes 36-47 (Channel 1)");
}
