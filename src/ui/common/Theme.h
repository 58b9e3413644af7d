#pragma once

#include <QString>

// The main window's colours, the arguments %1 to %7 of its dark sheet.
namespace Theme {
inline constexpr const char* kBgWindow = "#1e1e1e";
inline constexpr const char* kTextPrimary = "#f0f0f0";
inline constexpr const char* kBorder = "#444444";
inline constexpr const char* kAccent = "#0A84FF";
inline constexpr const char* kAccentTeal = "#55aaaa";
inline constexpr const char* kAccentTealHi = "#66cccc";
inline constexpr const char* kBgSurface = "#2a2a2a";
} // namespace Theme

// The window's own sheet, filled from the Theme colours.
QString darkWindowStyleSheet();

// Fixed style texts of the window's widgets.
QString metadataGroupStyle(bool recording);
QString slateComIdleStyle();
QString stripNameStyle(int fontSizePx);
QString gainLabelStyle(int fontSizePx);
QString faderStyleSheet(int grooveMargin, int handleWidth, int handleHeight, int handleVerticalMargin,
                        int handleHorizontalMargin);
QString trackNameEditStyle(int maxHeightPx);
// A track row's background, green-tinted while the track is armed.
QString trackRowStyle(bool armed);

// The path of an image shipped with the program: beside the executable, in
// the bundle's Resources, a few folders up (a build tree) or in the Linux
// install's share/tonvale. When none exists, the first candidate.
QString findResourcePath(const QString& fileName);
