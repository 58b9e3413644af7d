#pragma once

#include "platform/hid/VirtualHidSystem.h"
#include "platform/midi/DefaultMidiSystem.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "platform/usb/VirtualUsbSystem.h"
#include "support/TempHome.h"
#include "support/UdpPorts.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Events as text, in arrival order, from any thread: "F3=8192" fader,
// "B3+" / "B3-" button, "K3=5" knob, "M2 0 82 115" raw message,
// "T7=8192" track fader, "S7+" strip (track) button, "G12+" global button,
// "X10+" transport.
class EventLog {
public:
    void add(std::string event)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// A fresh HOME and virtual MIDI, HID and USB systems that every driver
// uses, for one test: no test reaches the machine's own devices.
class VirtualMidiTest : public TempHomeTest {
protected:
    VirtualMidiTest()
        : midi_(std::make_shared<VirtualMidiSystem>()),
          hid_(std::make_shared<VirtualHidSystem>()),
          usb_(std::make_shared<VirtualUsbSystem>())
    {
        setDefaultMidiSystem(midi_);
        setDefaultHidSystem(hid_);
        setDefaultUsbSystem(usb_);
    }
    ~VirtualMidiTest() override
    {
        setDefaultMidiSystem(nullptr);
        setDefaultHidSystem(nullptr);
        setDefaultUsbSystem(nullptr);
    }

    // A device with an input and an output of the same name.
    void plugDevice(const std::string& name)
    {
        midi_->addSource(name);
        midi_->addDestination(name);
    }
    void inject(const std::string& source, std::vector<uint8_t> bytes)
    {
        ASSERT_TRUE(midi_->inject(midi_->findSource(source), bytes));
        midi_->waitForDeliveries();
    }
    std::vector<std::vector<uint8_t>> sentTo(const std::string& destination)
    {
        return midi_->takeSent(midi_->findDestination(destination));
    }

    std::shared_ptr<VirtualMidiSystem> midi_;
    std::shared_ptr<VirtualHidSystem> hid_;
    std::shared_ptr<VirtualUsbSystem> usb_;
};

// Open descriptors and threads of this process, for leak checks.
int openDescriptorCount();
int threadCount();
