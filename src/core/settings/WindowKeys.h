#pragma once

// Setting keys of the main window's layout and look: its geometry in pixels,
// the splitter between tracks and mixer, the auto-fit layout, the mixer's
// visibility and the colour theme.
namespace WindowKeys {

inline constexpr char kX[] = "window.x";
inline constexpr int kXDefault = -1;  // x or y below 0: the window system places the window
inline constexpr char kY[] = "window.y";
inline constexpr int kYDefault = -1;
inline constexpr char kWidth[] = "window.width";
inline constexpr int kWidthDefault = 900;
inline constexpr char kHeight[] = "window.height";
inline constexpr int kHeightDefault = 700;

// Pixels of each splitter side. Read with -1 at start-up and 0 by the
// auto-fit check; both take a value below 1 as "never moved".
inline constexpr char kSplitTracks[] = "ui.split.tracks";
inline constexpr char kSplitMixer[] = "ui.split.mixer";
inline constexpr char kAutoFitLayout[] = "ui.autofit_layout";  // read with false
inline constexpr char kMixerVisible[] = "mixer.visible";       // read with false
// The appearance dialog's theme number, read with its Dark theme.
inline constexpr char kTheme[] = "appearance.theme";

} // namespace WindowKeys
