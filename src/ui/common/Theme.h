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

// The audio device dialog's own sheet; its background is the window's
// surface (kBgSurface).
namespace Theme {
inline constexpr const char* kDeviceDialogText = "#eee";
inline constexpr const char* kDeviceDialogLabelText = "#ddd";
inline constexpr const char* kDeviceDialogFieldBg = "#333";
inline constexpr const char* kDeviceDialogFieldText = "#fff";
inline constexpr const char* kDeviceDialogBorder = "#555";
inline constexpr const char* kDeviceDialogButtonBg = "#444";
inline constexpr const char* kDeviceDialogButtonHoverBg = "#555";
inline constexpr const char* kDeviceDialogGroupTitle = "#aaa";
inline constexpr const char* kDeviceDialogHintText = "#888";
inline constexpr const char* kDeviceDialogConfigurationText = "#0c0";
inline constexpr const char* kDeviceDialogAdviceText = "#777";
inline constexpr const char* kDeviceDialogAdviceBg = "#222";
inline constexpr const char* kDeviceDialogApplyBg = "#2a6a2a";
} // namespace Theme

// The last take's false-take menu and its question.
namespace Theme {
inline constexpr const char* kLastTakeMenuBg = "#252526";
inline constexpr const char* kLastTakeMenuSelectedBg = "#2d2d2d";
inline constexpr const char* kLastTakeText = "#ffffff";
inline constexpr const char* kLastTakeBorder = "#555";
inline constexpr const char* kLastTakeQuestionBg = "#2b2b2b";
inline constexpr const char* kLastTakeButtonBg = "#444";
inline constexpr const char* kLastTakeButtonText = "#fff";
inline constexpr const char* kLastTakeButtonHoverBg = "#555";
inline constexpr const char* kLastTakeButtonPressedBg = "#333";
} // namespace Theme
