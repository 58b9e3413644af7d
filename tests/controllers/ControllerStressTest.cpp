#include "controllers/MidiControllerManager.h"

#include "ControllerTestSupport.h"

#include <atomic>
#include <thread>

// The GUI side adds and removes controllers, edits assignments, re-registers
// the window's callbacks and sends feedback while a device thread streams
// events: run under ThreadSanitizer and AddressSanitizer.
TEST_F(VirtualMidiTest, RelaysStayRaceFreeWhileTheGuiChangesEverything)
{
    plugDevice("Fader Box");
    plugDevice("nanoKONTROL2");
    auto manager = std::make_unique<MidiControllerManager>();
    ASSERT_TRUE(manager->initialize());
    ASSERT_TRUE(manager->addController("Fader Box", false));
    ASSERT_TRUE(manager->addController("nanoKONTROL2", false));

    std::atomic<int> faderEvents{0};
    std::atomic<int> trackButtons{0};
    std::atomic<int> transports{0};  // only the nanoKONTROL2 sends them
    std::atomic<bool> badTrack{false};
    auto registerCallbacks = [&] {
        manager->setFaderCallback([&](int track, int value) {
            if (track < 0 || track > 31 || value < 0 || value > 16383)
                badTrack = true;
            ++faderEvents;
        });
        manager->setButtonCallback([&](int, bool) { badTrack = true; });  // no Cantarem 2 here
        manager->setTrackButtonCallback([&](int track, bool) {
            if (track < 0 || track > 31)
                badTrack = true;
            ++trackButtons;
        });
        manager->setTransportCallback([&](TransportButton, bool) { ++transports; });
    };
    registerCallbacks();

    std::atomic<bool> stop{false};
    const MidiEndpointRef box = midi_->findSource("Fader Box");
    const MidiEndpointRef nano = midi_->findSource("nanoKONTROL2");
    std::thread device([&] {
        for (uint8_t i = 0; !stop.load(); ++i) {
            midi_->inject(box, {static_cast<uint8_t>(0xE0 | (i & 7)), i, static_cast<uint8_t>(i & 0x7F)});
            midi_->inject(box, {0x90, static_cast<uint8_t>(i % 12), static_cast<uint8_t>(i & 1)});
            midi_->inject(nano, {0xB0, static_cast<uint8_t>(82 + (i & 7)), static_cast<uint8_t>(i & 0x7F)});
            midi_->inject(nano, {0xB0, static_cast<uint8_t>(33 + (i & 7)), static_cast<uint8_t>(i & 1)});
            midi_->inject(nano, {0xB0, 80, 127});
            if (i % 16 == 0)
                midi_->waitForDeliveries();  // keep the queue short
        }
    });

    for (int round = 0; round < 300; ++round) {
        const int fader = round % 8;
        const int track = round % 32;
        manager->assignFader("Fader Box", fader, track);
        manager->assignFader("nanoKONTROL2", fader, (track + 8) % 32);
        manager->sendFaderPosition((track + 8) % 32, (round * 97) % 16384);
        if (round % 3 == 0)
            manager->removeFaderAssignment("Fader Box", fader, track);
        if (round % 10 == 0)
            registerCallbacks();
        if (round % 25 == 0) {
            EXPECT_TRUE(manager->removeController("nanoKONTROL2"));
            const int transportsAtRemoval = transports.load();
            midi_->waitForDeliveries();
            midi_->waitForDeliveries();
            EXPECT_EQ(transports.load(), transportsAtRemoval) << "a relay ran after removeController returned";
            EXPECT_TRUE(manager->addController("nanoKONTROL2", false));
        }
    }
    // The manager goes away while the device is still sending.
    manager->shutdown();
    manager.reset();
    stop = true;
    device.join();
    midi_->waitForDeliveries();
    EXPECT_FALSE(badTrack.load());
    EXPECT_GT(faderEvents.load(), 0);
    EXPECT_GT(trackButtons.load(), 0);
    EXPECT_GT(transports.load(), 0);
}
