#pragma once

// What COPY takes from a channel strip and PASTE gives to another: trim,
// high-pass, EQ and limiter (never the aux sends). A default-made strip is
// the flat one RESET gives.
struct ChannelStripSettings {
    int trim = 0;
    bool hpfEnabled = false;
    int hpfFrequency = 80;
    bool eqEnabled = false;
    int lowFrequency = 100, lowGain = 0, lowQ = 10;
    int midFrequency = 1000, midGain = 0, midQ = 10;
    int highFrequency = 5000, highGain = 0, highQ = 10;
    bool limiterEnabled = false;
    int limiterThreshold = -60;
};

// The strip clipboard the channel strip dialogs of one window share: empty
// until the first COPY. A plain value owned by whoever opens the dialogs
// (the main window), which lends it to each; the dialogs touch it only on
// COPY, PASTE and when they are built.
// GUI thread only.
class StripClipboard {
public:
    bool hasData() const { return hasData_; }
    // Meaningful only when hasData().
    const ChannelStripSettings& strip() const { return strip_; }
    void copy(const ChannelStripSettings& strip)
    {
        strip_ = strip;
        hasData_ = true;
    }

private:
    ChannelStripSettings strip_;
    bool hasData_ = false;
};
