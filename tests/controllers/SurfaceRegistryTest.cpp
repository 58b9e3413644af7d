#include "controllers/HidController_CL12.h"
#include "controllers/HidController_Cantarem2.h"
#include "controllers/MidiControllerManager.h"
#include "controllers/MidiController_CoreMIDI.h"
#include "controllers/NetworkController_CL12.h"
#include "controllers/SurfaceRegistry.h"

#include "ControllerTestSupport.h"

#include <algorithm>
#include <typeinfo>

namespace {

const SurfaceKind& cantarem() { return HidController_Cantarem2::surfaceKind(); }
const SurfaceKind& cl12Usb() { return HidController_CL12::surfaceKind(); }
const SurfaceKind& cl12Udp() { return NetworkController_CL12::surfaceKind(); }
const SurfaceKind& xTouch() { return MidiController_CoreMIDI::xTouchSurfaceKind(); }
const SurfaceKind& bridge() { return MidiController_CoreMIDI::cl12BridgeSurfaceKind(); }
const SurfaceKind& nano() { return MidiController_CoreMIDI::nanoKontrol2SurfaceKind(); }
const SurfaceKind& midi() { return MidiController_CoreMIDI::midiDeviceSurfaceKind(); }

// What each kind of surface is and does, by the names its devices show.
struct KindCase {
    const char* deviceName;
    const SurfaceKind& (*kind)();
    int faders;
    int fadersPerBank;
    bool globalKeys;
    bool sendsMidi;
    bool reopened;
    bool takesFaderPositions;
    bool faderOwnsLevel;
    const char* abbreviation;
    const char* readBack;
};

const KindCase kKindCases[] = {
    // name                       kind      fdr bank keys  midi   reopen moved owns  abbr   read back
    {"Cantarem 2",                cantarem, 12, 6,   true,  false, true,  true,  true,  "CA",  "Cantarem 2"},
    {"Sound Devices CL-12",       cl12Usb,  12, 8,   false, false, true,  true,  false, "",    ""},
    {"CL-12 Network (UDP)",       cl12Udp,  12, 8,   false, false, false, true,  false, "",    ""},
    {"X-TOUCH COMPACT",           xTouch,   16, 8,   false, true,  false, false, false, "XT",  "X-Touch"},
    {"Behringer X-Touch",         xTouch,   16, 8,   false, true,  false, false, false, "XT",  "X-Touch"},
    {"XTOUCH",                    xTouch,   16, 8,   false, true,  false, false, false, "XT",  "X-Touch"},
    {"X-Touch CL-12 Bridge",      xTouch,   16, 8,   false, true,  false, false, false, "XT",  "X-Touch"},
    {"CL-12 Bridge",              bridge,   12, 8,   false, true,  false, true,  false, "",    ""},
    {"CL12",                      bridge,   12, 8,   false, true,  false, true,  false, "",    ""},
    {"Network Session 1",         bridge,   12, 8,   false, true,  false, true,  false, "",    ""},
    {"Pi Network (UDP) MIDI",     bridge,   12, 8,   false, true,  false, true,  false, "",    ""},
    {"nanoKONTROL2",              nano,     8,  8,   false, true,  false, true,  false, "NK2", ""},
    {"NANOKONTROL2 SLIDER/KNOB",  nano,     8,  8,   false, true,  false, true,  false, "NK2", ""},
    {"Cantarem 2 ",               midi,     8,  8,   false, true,  false, true,  false, "",    ""},
    {"x-touch",                   midi,     8,  8,   false, true,  false, true,  false, "",    ""},
    {"MIDI Mix",                  midi,     8,  8,   false, true,  false, true,  false, "",    ""},
    {"",                          midi,     8,  8,   false, true,  false, true,  false, "",    ""},
};

class SurfaceRegistryDriverTest : public VirtualMidiTest {};

}  // namespace

TEST(SurfaceRegistryTest, EachNameIsItsKindWithThatKindsProperties)
{
    for (const KindCase& c : kKindCases) {
        SCOPED_TRACE(std::string("device '") + c.deviceName + "'");
        const SurfaceKind& kind = SurfaceRegistry::forName(c.deviceName);
        EXPECT_EQ(&kind, &c.kind());
        EXPECT_EQ(kind.faderCount, c.faders);
        EXPECT_EQ(MidiControllerManager::getControllerFaderCount(c.deviceName), c.faders);
        EXPECT_EQ(kind.fadersPerBank, c.fadersPerBank);
        EXPECT_EQ(kind.drivesGlobalKeys, c.globalKeys);
        EXPECT_EQ(kind.sendsMidi, c.sendsMidi);
        EXPECT_EQ(kind.reopenedWhenLost(), c.reopened);
        EXPECT_EQ(kind.takesFaderPositions, c.takesFaderPositions);
        EXPECT_EQ(kind.faderOwnsLevel, c.faderOwnsLevel);
        EXPECT_EQ(kind.abbreviation, c.abbreviation);
        EXPECT_EQ(kind.readBackLabel, c.readBack);
    }
}

// The column head and whether a fader owns its track's level go by a name's
// family words, the first family in order, whatever driver opens the device.
TEST(SurfaceRegistryTest, FamiliesGoByTheWordsANameHolds)
{
    struct FamilyCase {
        const char* deviceName;
        const char* abbreviation;  // "" for none: the window shows the first four bytes
        bool faderOwnsLevel;
    };
    const FamilyCase kCases[] = {
        {"Cantarem 2", "CA", true},
        {"Cantarem X", "CA", true},              // a MIDI port, but of the Cantarem family
        {"My Cantarem 2 MIDI", "CA", true},
        {"X-Touch Cantarem", "XT", false},       // the X-Touch words come first
        {"Cantarem nanoKONTROL2", "CA", true},   // the Cantarem word before the nanoKONTROL2's
        {"nanoKONTROL2 Bridge", "NK2", false},   // opens as the bridge, headed as a nanoKONTROL2
        {"NANOKONTROL2", "NK2", false},
        {"XTOUCH", "XT", false},
        {"cantarem", "", false},                 // the words are case-sensitive
        {"Sound Devices CL-12", "", false},
        {"CL-12 Bridge", "", false},
        {"", "", false},
    };
    for (const FamilyCase& c : kCases) {
        SCOPED_TRACE(std::string("device '") + c.deviceName + "'");
        const SurfaceKind* family = SurfaceRegistry::familyOf(c.deviceName);
        EXPECT_EQ(family != nullptr ? family->abbreviation : std::string(), c.abbreviation);
        EXPECT_EQ(SurfaceRegistry::faderOwnsLevel(c.deviceName), c.faderOwnsLevel);
    }
    EXPECT_EQ(&SurfaceRegistry::forName("nanoKONTROL2 Bridge"), &bridge());
    EXPECT_EQ(&SurfaceRegistry::forName("Cantarem X"), &midi());
}

// A kind half filled in would fail only when its device shows up: every
// kind can be opened, a listed one says how, a reopened one has all of its
// steps, and no kind hides behind an earlier one.
TEST(SurfaceRegistryTest, EveryKindIsCompleteAndReachable)
{
    const std::vector<const SurfaceKind*>& kinds = SurfaceRegistry::kinds();
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.back(), &midi());  // matches every name, so it comes last
    for (size_t i = 0; i < kinds.size(); ++i) {
        const SurfaceKind& kind = *kinds[i];
        const std::string example = !kind.name.empty() ? kind.name
                                    : !kind.nameWords.empty() ? kind.nameWords.front()
                                                              : std::string("Some MIDI Box");
        SCOPED_TRACE(example);
        EXPECT_NE(kind.open, nullptr);
        EXPECT_EQ(&SurfaceRegistry::forName(example), &kind);
        if (kind.listing != SurfaceKind::Listing::MidiSource) {
            EXPECT_FALSE(kind.name.empty());
        }
        if (kind.listing == SurfaceKind::Listing::WhenPresent) {
            EXPECT_NE(kind.isPresent, nullptr);
        }
        if (kind.reopenedWhenLost()) {
            EXPECT_NE(kind.isBack, nullptr);
            EXPECT_NE(kind.makeReplacement, nullptr);
            EXPECT_NE(kind.startReplacement, nullptr);
        }
        for (const std::string& word : kind.nameWords)
            EXPECT_EQ(&SurfaceRegistry::forName(word), &kind) << word;
    }
}

// Every kind's device plugged in: the scan lists it, adding it makes its own
// driver with the right output, and only the MIDI drivers offer MIDI messages.
TEST_F(SurfaceRegistryDriverTest, MakesEachKindAsItsDriver)
{
    const std::string cantaremPath = hid_->attach(HidController_Cantarem2::kVendorId, HidController_Cantarem2::kProductId);
    std::vector<uint8_t> faders(33, 0);
    faders[0] = 12;  // a fader report: the open need not wait for one
    hid_->setReportOnOpen(cantaremPath, faders);
    usb_->attach(HidController_CL12::kVendorId, HidController_CL12::kProductId, {VirtualUsbSystem::InterfaceState::Free});
    for (int i = 0; i < 4; ++i)
        usb_->queueReply(std::vector<uint8_t>{0x01});
    plugDevice("X-TOUCH COMPACT");
    plugDevice("nanoKONTROL2");
    plugDevice("CL-12 Bridge");
    midi_->addSource("Keys In");  // no output of its name

    const struct {
        const char* name;
        const SurfaceKind& (*kind)();
        const std::type_info& driver;
        bool hasOutput;
    } cases[] = {
        {"Cantarem 2", cantarem, typeid(HidController_Cantarem2), false},
        {"Sound Devices CL-12", cl12Usb, typeid(HidController_CL12), true},
        {"CL-12 Network (UDP)", cl12Udp, typeid(NetworkController_CL12), false},
        {"X-TOUCH COMPACT", xTouch, typeid(MidiController_CoreMIDI), true},
        {"nanoKONTROL2", nano, typeid(MidiController_CoreMIDI), true},
        {"CL-12 Bridge", bridge, typeid(MidiController_CoreMIDI), true},
        {"Keys In", midi, typeid(MidiController_CoreMIDI), false},
    };
    MidiControllerManager manager;
    manager.initialize();
    manager.setNetworkReceiverPort(freeUdpPort());
    const std::vector<std::string> listed = manager.getAvailableInputDevices();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(std::find(listed.begin(), listed.end(), c.name), listed.end());
        ASSERT_TRUE(manager.addController(c.name, false));
        const PhysicalController& record = manager.getControllers().back();
        ASSERT_NE(record.controller, nullptr);
        const MidiControllerBase& driver = *record.controller;
        EXPECT_EQ(typeid(driver), c.driver);
        EXPECT_EQ(record.kind, &c.kind());
        EXPECT_EQ(record.hasOutput, c.hasOutput);
        EXPECT_EQ(record.controller->midiMessagePort() != nullptr, c.kind().sendsMidi);
    }
    manager.shutdown();
}
