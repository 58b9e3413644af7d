#pragma once

// The transport buttons a control surface may report, 0 to 10. A driver
// reports one through its button callback as the bitwise complement of the
// value (TrackLeft is button -1, Rec is button -11).
enum class TransportButton : int {
    TrackLeft = 0,   // steps a multi-bank controller's faders down
    TrackRight = 1,  // steps a multi-bank controller's faders up
    // 2 to 7 and 9 have no name: a preset may report them, nothing acts on them.
    Stop = 8,
    Rec = 10,
};

inline constexpr int kTransportButtonCount = 11;

// The button number a driver reports for a transport button, and back.
constexpr int transportButtonNumber(TransportButton button)
{
    return ~static_cast<int>(button);
}
constexpr TransportButton transportButtonFromNumber(int buttonNumber)
{
    return static_cast<TransportButton>(~buttonNumber);
}
