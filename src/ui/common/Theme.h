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

// --- The LTC generator, timecode accuracy test and channel strip dialogs, and
// the editable value label. Spelled as the dialogs always wrote them.
namespace Theme {
// The value label's editor (on kBgSurface).
inline constexpr const char* kValueEditorBorder = "#4a9eff";

// LTC generator.
inline constexpr const char* kLtcGenStartButton = "#2d862d";
inline constexpr const char* kLtcGenStartButtonHover = "#3d963d";
inline constexpr const char* kLtcGenStopButton = "#c62828";
inline constexpr const char* kLtcGenStopButtonHover = "#d63838";
inline constexpr const char* kLtcGenRunning = "#00ff00";
inline constexpr const char* kLtcGenMuted = "#888";
inline constexpr const char* kLtcGenHelpText = "#666";
inline constexpr const char* kLtcGenDisplayText = "#00ff00";
inline constexpr const char* kLtcGenDisplayBackground = "#111";
inline constexpr const char* kLtcGenDisplayBorder = "#333";

// Timecode accuracy test: states (sync, drift, calibration), the clocks, the
// accuracy grades and the buttons.
inline constexpr const char* kTcTestSuccess = "#00ff00";
inline constexpr const char* kTcTestCaution = "#ffcc00";
inline constexpr const char* kTcTestReady = "#00ccff";
inline constexpr const char* kTcTestProblem = "#ff6600";
inline constexpr const char* kTcTestMuted = "#888";
inline constexpr const char* kTcTestLabel = "#aaa";
inline constexpr const char* kTcTestPanel = "#1a1a1a";
inline constexpr const char* kTcTestInternalClock = "#00ff00";
inline constexpr const char* kTcTestExternalClock = "#00ccff";
inline constexpr const char* kTcTestProgress = "#00ccff";
inline constexpr const char* kTcTestGradeExcellent = "#00ff00";
inline constexpr const char* kTcTestGradeVeryGood = "#88ff00";
inline constexpr const char* kTcTestGradeGood = "#ffcc00";
inline constexpr const char* kTcTestGradeAcceptable = "#ff8800";
inline constexpr const char* kTcTestGradePoor = "#ff4400";
inline constexpr const char* kTcTestJamButton = "#006699";
inline constexpr const char* kTcTestJamButtonHover = "#0088cc";
inline constexpr const char* kTcTestCalibrateButton = "#663399";
inline constexpr const char* kTcTestCalibrateButtonHover = "#7744aa";
inline constexpr const char* kTcTestCancelButton = "#663333";
inline constexpr const char* kTcTestCancelButtonHover = "#884444";
inline constexpr const char* kTcTestStartLogButton = "#006600";
inline constexpr const char* kTcTestStopLogButton = "#660000";
inline constexpr const char* kTcTestDisabledButton = "#444";
inline constexpr const char* kTcTestDisabledButtonText = "#888";

// Channel strip: the dialog (on a gradient down to kBgSurface, groups framed
// in kBorder, checks in kAccentTeal), each section's colour, and the banner
// after COPY, PASTE, RESET and a label's reset.
inline constexpr const char* kStripBackgroundTop = "#3a3a3a";
inline constexpr const char* kStripText = "#fff";
inline constexpr const char* kStripLabelText = "#ddd";
inline constexpr const char* kStripNameText = "#aaa";
inline constexpr const char* kStripButton = "#4a4a4a";
inline constexpr const char* kStripButtonBorder = "#555";
inline constexpr const char* kStripButtonHover = "#5a5a5a";
inline constexpr const char* kStripButtonHoverBorder = "#666";
inline constexpr const char* kStripResetButton = "#6a3a3a";
inline constexpr const char* kStripKnobShade = "#1a1a1a";
inline constexpr const char* kStripInputGroupBorder = "#888";
inline constexpr const char* kStripTrim = "#ff4444";
inline constexpr const char* kStripHighPass = "#87ceeb";
inline constexpr const char* kStripHighPassCheck = "#add8e6";
inline constexpr const char* kStripLimiter = "#ff8c00";
inline constexpr const char* kStripLimiterCheck = "#ffb347";
inline constexpr const char* kStripEq = "#50c878";
inline constexpr const char* kStripEqText = "#6fdc8c";
inline constexpr const char* kStripEqGroove = "#333";
inline constexpr const char* kStripEqCurveBackground = "#252530";
inline constexpr const char* kStripEqLowTitle = "#fc0";
inline constexpr const char* kStripEqMidTitle = "#f93";
inline constexpr const char* kStripEqHighTitle = "#f66";
inline constexpr const char* kStripEqFrequency = "#5a5";
inline constexpr const char* kStripEqGain = "#f44";
inline constexpr const char* kStripEqQ = "#48f";
inline constexpr const char* kStripAux = "#9370db";
inline constexpr const char* kStripAuxText = "#b19cd9";
inline constexpr const char* kStripPreFaderText = "#999";
inline constexpr const char* kStripCopied = "#4a9d5f";
inline constexpr const char* kStripPasted = "#5a8fd4";
inline constexpr const char* kStripChannelReset = "#d47a5a";
inline constexpr const char* kStripDefaultRestored = "#4a9eff";
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
