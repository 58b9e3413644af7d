#pragma once

#include <QString>

#include <vector>

// Every colour the window side paints with, named once by the role it plays,
// and the style texts built from them. A colour is a Qt colour name: "#rgb",
// "#rrggbb", "#aarrggbb" where a painter needs transparency, or rgba(...)
// where a style sheet does, so a QColor and a style sheet read the same
// constant. Two roles that happen to share a value keep two names, so one can
// change without the other.
namespace Theme {

// ---- Main window: its base colours, the first arguments of its dark sheet ----
inline constexpr const char* kBgWindow = "#1e1e1e";
inline constexpr const char* kTextPrimary = "#f0f0f0";
inline constexpr const char* kBorder = "#444444";
inline constexpr const char* kAccent = "#0A84FF";
inline constexpr const char* kAccentTeal = "#55aaaa";
inline constexpr const char* kAccentTealHi = "#66cccc";
inline constexpr const char* kBgSurface = "#2a2a2a";

// ---- Surfaces ----
inline constexpr const char* kBgDialog = "#2b2b2b";        // dialogs and message boxes
inline constexpr const char* kBgField = "#2d2d2d";         // inputs, lists, tables, unticked boxes
inline constexpr const char* kBgControl = "#3a3a3a";       // buttons, header sections, clickable fields
inline constexpr const char* kBgControlHover = "#4a4a4a";
inline constexpr const char* kBgControlPressed = "#2a2a2a";
inline constexpr const char* kBgDisabled = "#1a1a1a";
inline constexpr const char* kBgReadOnly = "#333333";
inline constexpr const char* kBgSelection = "#3d3d3d";
inline constexpr const char* kBgAlternateRow = "#383838";
inline constexpr const char* kBgMenuBar = "#252526";
inline constexpr const char* kBgMenuSelected = "#444";     // the frame rate menu's choice
inline constexpr const char* kBgStrip = "#252525";         // track rows, the record/stop panel
inline constexpr const char* kBgStripArmed = "#2d352d";
inline constexpr const char* kBgRecordingPanel = "#5a2a2a"; // the take's fields while recording
inline constexpr const char* kBgAlertPanel = "#4a2020";     // the frame rate warning
inline constexpr const char* kBgDrainedStart = "#663333";   // the take's fields when a take starts after a drain
inline constexpr const char* kBorderDrainedStart = "#aa4444";
inline constexpr const char* kBorderRow = "#333333";       // under each track row
inline constexpr const char* kBgSlate = "#4a4a4a";         // SLATE and COM at rest
inline constexpr const char* kBgSlateHover = "#555555";
inline constexpr const char* kBgRecordStopFallback = "#333"; // record/stop when its image is missing
inline constexpr const char* kSplitterHandle = "#222";
inline constexpr const char* kSplitterHandleHover = "#2f2f2f";
inline constexpr const char* kSplitterEdgeLight = "#333";
inline constexpr const char* kSplitterEdgeDark = "#111";

// ---- Text ----
inline constexpr const char* kTextBright = "#ffffff";      // on dialogs and coloured buttons
inline constexpr const char* kTextLabel = "#ccc";          // dialog labels
inline constexpr const char* kTextSecondary = "#aaa";      // introductions, status lines
inline constexpr const char* kTextCaption = "#bbb";        // small captions in grids
inline constexpr const char* kTextMuted = "#888";          // hints, switched-off buttons
inline constexpr const char* kTextDim = "#999999";         // values and titles at rest
inline constexpr const char* kTextFaint = "#666";          // disabled, footnotes
inline constexpr const char* kWatermark = "rgba(255, 255, 255, 28)";

// ---- Borders ----
inline constexpr const char* kBorderControl = "#555";      // buttons, lists and group boxes in dialogs
inline constexpr const char* kBorderHover = "#666";
inline constexpr const char* kBorderHoverStrong = "#888";
inline constexpr const char* kBorderStrong = "#777";
inline constexpr const char* kBorderIndicator = "#666";    // around an unticked box

// ---- States and signals ----
inline constexpr const char* kGo = "#34C759";              // recorded, drive ready, last take
inline constexpr const char* kGoHover = "#5dd879";
inline constexpr const char* kAlert = "#ff3333";           // take time, drive missing, rate mismatch
inline constexpr const char* kAlertBorder = "#ff4444";
inline constexpr const char* kCaution = "#ffcc00";         // forced rate, a drive's warning lamp
inline constexpr const char* kCom = "#ff8c00";
inline constexpr const char* kComBorder = "#ffaa00";
inline constexpr const char* kSlateMonitor = "#0A84FF";
inline constexpr const char* kTimecode = "#B8E0FF";
inline constexpr const char* kArmed = "#ff0000";           // PFL switched on
inline constexpr const char* kPersistTicked = "#004488";
inline constexpr const char* kToastWorking = "rgba(0, 100, 200, 200)";
inline constexpr const char* kToastSuccess = "rgba(0, 150, 0, 200)";
// The automix share of a track: above 80 %, above 50 %, less.
inline constexpr const char* kShareHigh = "#4f4";
inline constexpr const char* kShareMiddle = "#ff4";
inline constexpr const char* kShareLow = "#888";
// Automix groups 1 to 4.
inline constexpr const char* kAutomixGroups[] = {"#9B59B6", "#3a7bd5", "#34C759", "#ff8c00"};
// A track's colour before the user picks one.
inline constexpr const char* kTrackDefault = "#505050";

// ---- Fader groove, edge to centre ----
inline constexpr const char* kFaderGrooveEdge = "#0a0a0a";
inline constexpr const char* kFaderGrooveShoulder = "#222";
inline constexpr const char* kFaderGrooveCentre = "#333";

// ---- Grey dialogs: aux sends, playback, hotkeys, message boxes ----
inline constexpr const char* kDialogButton = "#444";
inline constexpr const char* kDialogButtonHover = "#555";
inline constexpr const char* kDialogButtonPressed = "#333";
inline constexpr const char* kDialogButtonDisabled = "#333";
inline constexpr const char* kDialogRowHover = "#444";
inline constexpr const char* kDialogWell = "#333";         // slider grooves, the file list
inline constexpr const char* kDialogInput = "#3d3d3d";
inline constexpr const char* kDialogAccent = "#0066cc";    // slider fill and handle, list selection
inline constexpr const char* kFieldDialogButton = "#555";  // the take field prompt's buttons
inline constexpr const char* kFieldDialogButtonHover = "#666";

// ---- Mixer-tool dialogs: offsets, fader assignment, routing matrices ----
inline constexpr const char* kToolBg = "#2d2d2d";
inline constexpr const char* kToolText = "#ddd";
inline constexpr const char* kToolButton = "#404040";
inline constexpr const char* kToolButtonHover = "#505050";
inline constexpr const char* kToolInput = "#353535";
inline constexpr const char* kToolAccent = "#4a9eff";
inline constexpr const char* kMatrixTick = "#4aa3df";
inline constexpr const char* kMatrixTickBorder = "#7cc4ee";

// ---- Output buses: text and cell background of each row ----
inline constexpr const char* kBusMix = "#0078d4";
inline constexpr const char* kBusMixBg = "#2a3a4a";
inline constexpr const char* kBusComs = "#ff8c00";
inline constexpr const char* kBusComsBg = "#3a3020";
inline constexpr const char* kBusMonitor = "#44ff44";
inline constexpr const char* kBusMonitorBg = "#2a3a2a";
inline constexpr const char* kBusLtcGen = "#00cc44";
inline constexpr const char* kBusLtcGenBg = "#2a3a2a";
inline constexpr const char* kBusTrack = "#ddd";
inline constexpr const char* kBusTrackBg = "#383838";

// ---- Tool dialogs ----
inline constexpr const char* kRepairAction = "#4a9d5f";    // repair, progress, selection
inline constexpr const char* kRepairDelete = "#d32f2f";
inline constexpr const char* kRepairButton = "#555";       // select all, skip, cancel
inline constexpr const char* kRepairTitle = "#ff9800";
inline constexpr const char* kRepairText = "#dddddd";
inline constexpr const char* kPlay = "#2a7a2a";
inline constexpr const char* kPlayHover = "#3a9a3a";
inline constexpr const char* kStop = "#7a2a2a";
inline constexpr const char* kStopHover = "#9a3a3a";
inline constexpr const char* kServerRunning = "#00cc00";
inline constexpr const char* kServerStopped = "#cc0000";
inline constexpr const char* kServerDetail = "#cccccc";
inline constexpr const char* kServerLog = "#888888";
inline constexpr const char* kRestartAccent = "#4a90e2";
inline constexpr const char* kDriveProblem = "#FF4444";
inline constexpr const char* kDriveUnusableRow = "#501E1E";
// The sound report: its paper-like preview and the printed table header.
inline constexpr const char* kReportPaper = "#f5f5f5";
inline constexpr const char* kReportPaperBorder = "#ccc";
inline constexpr const char* kReportPaperText = "#444";
inline constexpr const char* kReportHeaderBg = "#F0F0F0";
// The card shown while the program starts.
inline constexpr const char* kStartupCard = "#1e1e1e";
inline constexpr const char* kStartupText = "#dcdcdc";

// ---- Appearance choices: the values of the application-wide sheet ----
struct AppearancePalette {
    const char* background;
    const char* text;
    const char* secondaryText; // labels, titles
    const char* border;
    const char* borderWidth;
    const char* button;
    const char* buttonBorder;
    const char* buttonHover;
    const char* buttonHoverBorder;
    const char* buttonPressed;
    const char* inputBackground;
    const char* inputText;
    const char* menuBar;
    const char* menu;
    const char* menuSelected;
    const char* extraRules;
};
extern const AppearancePalette kDarkAppearance;
extern const AppearancePalette kLightAppearance;
extern const AppearancePalette kHighVisibilityAppearance;

// ---- Level meter ----
struct ColourStop {
    double position;
    const char* colour;
};
// How a MeterWidget paints; a new meter look is one more of these.
struct MeterStyle {
    const char* rim;
    std::vector<ColourStop> trough;   // top to bottom
    std::vector<ColourStop> armed;    // along the bar, quiet to loud
    std::vector<ColourStop> unarmed;
    std::vector<ColourStop> gloss;    // top to bottom, over an armed bar
    // The peak line takes the colour of the zone it sits in; the zones
    // start at these fractions of the bar.
    float peakCautionFrom;
    float peakAlertFrom;
    const char* peakSafe;
    const char* peakCaution;
    const char* peakAlert;
};
const MeterStyle& standardMeterStyle();

// ---- Equaliser curve ----
inline constexpr const char* kEqBgTop = "#232328";
inline constexpr const char* kEqBgBottom = "#19191e";
inline constexpr const char* kEqGrid = "#3c3c46";
inline constexpr const char* kEqZeroLine = "#9696a0";
inline constexpr const char* kEqScaleText = "#9696a0";
inline constexpr const char* kEqUnitText = "#64646e";
inline constexpr const char* kEqOffText = "#64646e";
inline constexpr const char* kEqBandLow = "#ffcc00";
inline constexpr const char* kEqBandMid = "#ff9933";
inline constexpr const char* kEqBandHigh = "#ff6666";
inline constexpr const char* kEqFillTop = "#3c64c896";
inline constexpr const char* kEqFillMiddle = "#1e50b482";
inline constexpr const char* kEqFillBottom = "#3c3ca06e";
inline constexpr const char* kEqCurve = "#78dca0";
inline constexpr const char* kEqMarkerRim = "#ffffff";
inline constexpr const char* kEqMarkerLetter = "#000000";

// ---- Drawn artwork: the record/stop keys, the fader cap, drive icons, the splash ----
inline constexpr const char* kArtKeyTop = "#4a4a4a";
inline constexpr const char* kArtKeyBottom = "#262626";
inline constexpr const char* kArtKeyRim = "#5c5c5c";
inline constexpr const char* kArtRecord = "#ff3b30";
inline constexpr const char* kArtStopLit = "#d0d0d0";
inline constexpr const char* kArtRecordGlowOn = "#ff8a80";
inline constexpr const char* kArtRecordGlowOff = "#8a2a25";
inline constexpr const char* kArtRecordEdgeOff = "#5a1a17";
inline constexpr const char* kArtRecordRimOn = "#ffd0cc";
inline constexpr const char* kArtRecordRimOff = "#3a1010";
inline constexpr const char* kArtStopRimRecording = "#9a9a9a";
inline constexpr const char* kArtStopRim = "#e0e0e0";
inline constexpr const char* kArtStopFaceRecording = "#6a6a6a";
inline constexpr const char* kArtStopFace = "#c8c8c8";
inline constexpr const char* kArtCapTop = "#b8b8b8";
inline constexpr const char* kArtCapUpperMiddle = "#6e6e6e";
inline constexpr const char* kArtCapLowerMiddle = "#5e5e5e";
inline constexpr const char* kArtCapBottom = "#9a9a9a";
inline constexpr const char* kArtCapOutline = "#2a2a2a";
inline constexpr const char* kArtCapRidge = "#5a000000";
inline constexpr const char* kArtCapLine = "#ffffff";
inline constexpr const char* kArtDriveTop = "#5a5a5a";
inline constexpr const char* kArtDriveBottom = "#2c2c2c";
inline constexpr const char* kArtDriveRim = "#777777";
inline constexpr const char* kArtDriveSeam = "#1a1a1a";
inline constexpr const char* kArtDriveLabel = "#f0f0f0";
inline constexpr const char* kArtSplashTop = "#262626";
inline constexpr const char* kArtSplashBottom = "#141414";
inline constexpr const char* kArtSplashLoud = "#d63a2f";
inline constexpr const char* kArtSplashMiddle = "#d6a422";
inline constexpr const char* kArtSplashQuiet = "#2e9e4a";
inline constexpr const char* kArtSplashTitle = "#f0f0f0";
inline constexpr const char* kArtSplashSubtitle = "#9a9a9a";

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
// "font-size: <px>px; color: <colour>;", the sheet of a small plain label.
QString labelStyle(int fontSizePx, const char* colour);
QString faderStyleSheet(int grooveMargin, int handleWidth, int handleHeight, int handleVerticalMargin,
                        int handleHorizontalMargin);
QString trackNameEditStyle(int maxHeightPx);
// A track row's background, green-tinted while the track is armed.
QString trackRowStyle(bool armed);
// The rounded panels of the control bar: the clocks, and record/stop.
QString timecodePanelStyle();
QString recordStopPanelStyle();
// The faint name across the empty mixer.
QString mixerWatermarkStyle();
// A short notice floating over a window (working, done), on `background`.
QString toastStyle(const QString& background);

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
