#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QMainWindow>
#include <QMessageBox>

#include "engine/AudioEngineBase.h"
#include "platform/volumes/ExfatFormatter.h"
#include "ui/mixer/StripClipboard.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <memory>
#include <string>
#include <vector>

class AudioEngineBase;
class AutomixEngine;
class FaderSlider;
class LtcEncoder;
class LtcGeneratorDialog;
class MeterWidget;
class MetadataManagerWindow;
class MidiControllerManager;
class QAction;
class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QShortcut;
class QSplitter;
class QTimer;
class QToolButton;
class QVBoxLayout;
class SessionState;
class TcAccuracyTestDialog;

// The recorder's one main window. Its constructor builds the interface,
// makes the engine and the controller manager, restores the saved settings
// and returns with the window hidden; its destructor saves what the window
// keeps and shuts everything down. Every timer and single shot has the
// window as its context, so none runs once the window is gone.
// Threads: GUI thread only. Controller events reach it through queued calls.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Takes a repair mended on the recording drive (at start-up, before the
    // window existed, or from the Media menu) go to the backup drives' copy
    // queue, so the drives get them whole in place of their partial files.
    void queueRepairedTakeBackups(const std::vector<std::string>& repairedFiles);

    // Offered every key press by the application object before any widget
    // sees it; true means the press was a transport hotkey and is consumed.
    static bool tryConsumeTransportHotkey(const QKeyEvent* event);
    // Told of every key release before it is dispatched normally.
    static void onTransportHotkeyKeyReleased(const QKeyEvent* event);
    // A press that shows whether a held-back transport release was half of
    // an automatic repeat (same server time): true when it was, and the hold
    // goes on; any other press settles the release first.
    static bool resolvePendingTransportRelease(const QKeyEvent* event);

    // The window's entry to the shared styled box (ui/common/MessageBoxes.h).
    static void showStyledMessageBox(QWidget* parent, const QString& title, const QString& text,
                                     QMessageBox::StandardButtons buttons);

    // One track row and one mixer strip per track built; rows and strips
    // beyond the shown count are hidden, not destroyed.
    struct TrackRow {
        QWidget* rowWidget = nullptr;
        QCheckBox* armButton = nullptr;
        QToolButton* automixButton = nullptr;
        QLabel* automixShareLabel = nullptr;
        QLineEdit* nameEdit = nullptr;
        MeterWidget* meter = nullptr;
        int automixGroup = 0; // 0 off, 1 to 4
    };
    struct MixerStrip {
        QWidget* stripWidget = nullptr;
        QLabel* nameLabel = nullptr;
        FaderSlider* fader = nullptr;
        QLabel* gainLabel = nullptr;
        QPushButton* trackButton = nullptr;
        QPushButton* pflButton = nullptr;
        QColor color{0x50, 0x50, 0x50};
        int trackIndex = 0;
    };

    // What tests and later handlers read.
    AudioEngineBase* engine() const { return engine_.get(); }
    MidiControllerManager* controllerManager() const { return controllerManager_.get(); }
    const std::vector<TrackRow>& trackRows() const { return trackRows_; }
    const std::vector<MixerStrip>& mixerStrips() const { return mixerStrips_; }
    bool isRecording() const { return isRecording_; }
    bool isControllerFaderHoldOff() const { return controllerFaderHoldOff_; }
    LtcGeneratorDialog* ltcGeneratorDialog() const { return ltcGeneratorDialog_; }
    LtcEncoder* ltcEncoder() const { return ltcEncoder_.get(); }
    int meterIntervalMs() const;

public slots:
    void onMidiFaderChanged(int channel, int value);

    void scheduleConfigSave();
    void applyBitbucketMode(bool on);
    void initLtcGenerator();
    void onCoreAudioDeviceSelection();

    // Handlers whose full behaviour belongs to later work; where a real
    // dialog exists, they open it.
    void onInputMatrix();
    void onOutputMatrix();
    void onAuxSends();
    void onPlaybackRouting();
    void onSaveLoadConfig();
    void onMediaSettings();
    void onFormatExternalDrive();
    void onControllerSelection();
    void onLtcGenerator();
    void onTcAccuracyTest();
    void onOffsets();
    void onMetadataManager();
    void onSoundReport();
    void onPlayback();
    void onHotkeysConfig();
    void onFileServer();
    void onRecoverRecordings();
    void onRecordClicked();
    void onStopClicked();
    void onLastRecordingClicked();

    // Slate and COM: the talkback paths the buttons, their keys and a
    // controller's C1/C2 open and close (MainWindowSlate.cpp).
    void onSlateButtonPressed();
    void onSlateButtonReleased();
    void onSlateMonitorButtonPressed();
    void onSlateMonitorButtonReleased();
    void onComButtonPressed();
    void onComButtonReleased();
    void resetSlateButton();
    void resetComButton();

    void updateMeters();
    void updateTimecode();
    void updateAutomixIndicators();
    void updateDriveStatus();
    void updateAutomixUiState();
    void syncFadersToController();

    void updateMetadataGroupStyle(bool recording);
    void updateTrackListScaling();
    void updateMixerFaderSizes();
    void fitMixerPane();
    void updateMixerWatermark();
    void applyWidgetStyles();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int stripNameFontPx(int largestPx, int stripWidth) const;
    int shownMixerStripCount() const;
    int widestStripNamePx(int fontPx) const;
    int applyMixerStripWidths();
    int mixerStripChromePx() const;
    int mixerRowScrollBarPx(int stripWidth) const;

    // Construction.
    void applyDarkTheme();
    void setupUI();
    QWidget* buildControlBar();
    QWidget* buildMixRow();
    void buildTrackList();
    void buildMixerPanel();
    QWidget* createDriveIndicator(const QString& type);
    void setupMenus();
    void setupConnections();
    void initializeEngines();
    // The stored media and backup settings, to the engine.
    void pushMediaSettings();
    // The stored file format; anything but 0 or 1 reads as 0.
    int storedFileFormat() const;
    void startTimers();

    // Track rows and strips.
    void createTrackWidget(int index, const QString& name);
    void createMixerFader(int index, const QString& name);
    void rebuildTracksAndMixer(int count, const std::vector<std::string>& names);
    void applyAutoFitLayout(bool on);
    void onFaderValueChanged(int stripIndex, int tenthsDb);
    void setStripColour(MixerStrip& strip, const QColor& colour);

    // Restore.
    void restoreSavedSettings();
    void restoreTrackNames(int count);
    void restoreInputs();
    void restoreRouting();
    void restoreFadersAndColours();
    void restoreMetadataFields();
    void moveTakePastRecordedTakes();
    void restoreBackupDrives();

    std::unique_ptr<AudioEngineBase> engine_;
    std::unique_ptr<MidiControllerManager> controllerManager_;
    std::shared_ptr<SessionState> sessionState_;
    // The internal LTC generator, made with its dialog and kept until the
    // engine is shut down: the engine renders it, and the generator dialog,
    // the accuracy test and the output matrix borrow it.
    std::unique_ptr<LtcEncoder> ltcEncoder_;
    LtcGeneratorDialog* ltcGeneratorDialog_ = nullptr;
    TcAccuracyTestDialog* tcAccuracyTestDialog_ = nullptr;
    // What COPY in one channel strip dialog leaves for PASTE in another.
    StripClipboard stripClipboard_;
    MetadataManagerWindow* metadataManager_ = nullptr;

    QTimer* meterTimer_ = nullptr;
    QTimer* driveTimer_ = nullptr;
    QTimer* errorBlinkTimer_ = nullptr;
    QTimer* copyBlinkTimer_ = nullptr;
    QTimer* longPressTimer_ = nullptr;
    QTimer* configSaveTimer_ = nullptr;
    QElapsedTimer takeElapsed_;
    bool isRecording_ = false;
    bool controllerFaderHoldOff_ = false;
    // The card format under way, on a worker thread (it cannot be cancelled).
    QFutureWatcher<ExfatFormatter::Result> formatWork_;

    // Layout.
    QSplitter* mainSplitter_ = nullptr;
    QScrollArea* trackScrollArea_ = nullptr;
    QWidget* trackListWidget_ = nullptr;
    QWidget* trackColumnRight_ = nullptr;
    QVBoxLayout* trackLayoutLeft_ = nullptr;
    QVBoxLayout* trackLayoutRight_ = nullptr;
    std::vector<TrackRow> trackRows_;
    QWidget* mixerPanel_ = nullptr;
    QScrollArea* mixerStripsWidget_ = nullptr;  // scrolls the strip row sideways when it is wider than the window
    QHBoxLayout* mixerStripsLayout_ = nullptr;
    QLabel* mixerWatermark_ = nullptr;
    std::vector<MixerStrip> mixerStrips_;
    MeterWidget* mixMeter_ = nullptr;
    QLabel* mixLabel_ = nullptr;
    QWidget* timecodePanel_ = nullptr;
    QLabel* timecodeLabel_ = nullptr;
    QLabel* takeTimeLabel_ = nullptr;
    QLabel* framerateLabel_ = nullptr;
    QLabel* recordStopButton_ = nullptr;
    QWidget* recordStopContainer_ = nullptr;
    QPushButton* slateButton_ = nullptr;
    QPushButton* comButton_ = nullptr;
    QPushButton* lastRecordingButton_ = nullptr;
    QGroupBox* metadataGroup_ = nullptr;
    QLineEdit* projectEdit_ = nullptr;
    QLineEdit* soundRollEdit_ = nullptr;
    QLineEdit* sceneEdit_ = nullptr;
    QLineEdit* takeEdit_ = nullptr;
    QLineEdit* notesEdit_ = nullptr;
    QCheckBox* persistNotesCheck_ = nullptr;
    QPushButton* sceneButton_ = nullptr;
    QLabel* intDriveIcon_ = nullptr;
    QLabel* ext1DriveIcon_ = nullptr;
    QLabel* ext2DriveIcon_ = nullptr;
    QMenu* controllerMenu_ = nullptr;
    QAction* testToneAction_ = nullptr;
    QAction* bitbucketAction_ = nullptr;
    QAction* beepAction_ = nullptr;
    QAction* showMixerAction_ = nullptr;
    QAction* autoFitAction_ = nullptr;
    QAction* automixAction_ = nullptr;
    QAction* formatDriveAction_ = nullptr;
    bool mixerVisible_ = false;
    bool autoFitLayout_ = false;
    int trackScalingRetries_ = 0;
    int mixerSizingRetries_ = 0;

    // ---- Record and stop road (MainWindowRecord.cpp) ----
public:
    // The record/stop image's halves: left records, right stops.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void updateRecordStopButtonImage();
    // Runs one take clock tick now (tests drive it without waiting a second).
    void onTakeClockTick();
    QString lastRecordingText() const;
    QLabel* recordStopButton() const { return recordStopButton_; }
    QLineEdit* takeField() const { return takeEdit_; }
    QLabel* timecodeLabel() const { return timecodeLabel_; }
    QLabel* takeTimeLabel() const { return takeTimeLabel_; }
    QLabel* framerateLabel() const { return framerateLabel_; }
    QPushButton* lastRecordingButton() const { return lastRecordingButton_; }
    // The folder of the last take: the stored path, else the one the engine
    // would have written it to.
    static QString lastTakeFolder();
    // The false-take road: the menu at the label, the question, the move.
    void onLastRecordingRightClick(const QPoint& position);
    // Asks "False Take" and, on Yes, moves the last take's files.
    void confirmFalseTake();
    // Moves the last take's files into FALSETAKES with the "F-" prefix and
    // steps the last take back; the number moved, 0 when refused.
    int markLastTakeFalse();
    // Where the take clock reads the write errors and dropped samples;
    // empty: the engine. Lets a test raise the counts of a running take.
    void setTakeErrorCountsSourceForTest(std::function<std::pair<int64_t, int64_t>()> source)
    {
        takeErrorCountsSource_ = std::move(source);
    }

private:
    AudioEngineBase::RecordingMetadata metadataFromFields(bool applyStopDefaults) const;
    void onWriterDrainTick();
    void runTakeStartSteps(bool afterDrain);
    void reportRefusedTakeStart(const QString& reason);
    void reportRecordingErrors();

    QTimer* takeClock_ = nullptr;
    QTimer* writerDrainPoll_ = nullptr;
    std::pair<int64_t, int64_t> rawTakeErrorCounts() const;
    std::pair<uint64_t, uint64_t> takeErrorCounts();
    // The engine's write errors and dropped samples when the take started.
    std::pair<int64_t, int64_t> takeErrorBaseline_{0, 0};
    // Set once the last take was seen closed: its counts no longer move.
    bool takeErrorsSettled_ = true;
    std::pair<uint64_t, uint64_t> settledTakeErrors_{0, 0};
    // What the boxes have reported of the running or last take.
    uint64_t lastSeenWriteErrors_ = 0;
    uint64_t lastSeenDroppedSamples_ = 0;
    // One "Recording Error" box at a time: counts are stored before it shows,
    // a growth while it is open is reported once it closes.
    bool recordingErrorBoxOpen_ = false;
    bool disconnectBoxOpen_ = false;
    bool copyActive_ = false;
    bool copyPhase_ = false;
    int recordStopEventCount_ = 0;
    std::function<std::pair<int64_t, int64_t>()> takeErrorCountsSource_;

    // ---- Hotkeys, slate and COM (MainWindowHotkeys.cpp, MainWindowSlate.cpp) ----
public:
    // What a held record or stop key does when its 600 ms run out.
    enum HotkeyLongPressTarget { HotkeyLongPressNone = 0, HotkeyLongPressRecord = 1, HotkeyLongPressStop = 2 };

    // Builds the configurable shortcuts once (end of the connection set-up).
    void setupConfigurableHotkeys();
    // Record and stop are switched off while the user types.
    void updateTransportShortcutsForTextFocus();
    void scheduleTransportHotkeyLongPress(HotkeyLongPressTarget target);
    void cancelTransportHotkeyLongPress();

    // What tests read.
    HotkeyLongPressTarget hotkeyLongPressTarget() const { return longPressTarget_; }
    bool isHotkeyLongPressArmed() const;
    bool isSlateActive() const { return slateActive_; }
    bool isMonitorSlateActive() const { return monitorSlateActive_; }
    bool isComActive() const { return comActive_; }
    QPushButton* slateButton() const { return slateButton_; }
    QPushButton* comButton() const { return comButton_; }
    QLineEdit* sceneField() const { return sceneEdit_; }
    QAction* testToneAction() const { return testToneAction_; }

public slots:
    // Puts the current bindings on the existing shortcuts.
    void refreshHotkeys();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setupSlateAndCom();
    void applyHotkeyBindings();
    void onLongPressExpired();
    void onRecordHotkeyActivated();
    void onStopHotkeyActivated();
    void onPlaybackHotkey();
    void onFalseTakeHotkey();
    void onTestToneHotkey();
    void onArmTrackHotkey(int index);
    void endSlate();

    QShortcut* recordShortcut_ = nullptr;
    QShortcut* stopShortcut_ = nullptr;
    QShortcut* playbackShortcut_ = nullptr;
    QShortcut* falseTakeShortcut_ = nullptr;
    QShortcut* testToneShortcut_ = nullptr;
    QShortcut* sceneLetterShortcut_ = nullptr;
    std::vector<QShortcut*> armShortcuts_;
    bool toggleKeyDown_ = false;
    bool recordKeyDown_ = false;
    bool stopKeyDown_ = false;
    HotkeyLongPressTarget longPressTarget_ = HotkeyLongPressNone;
    // A held key repeats as a release and a press with the same server time.
    // When the press is read a little late, the release arrives looking
    // real; it is held back for kReleaseSettleMs so the press that follows it
    // can show it was a repeat, and the hold goes on.
    struct PendingTransportRelease {
        bool active = false;
        unsigned long timestamp = 0;
        bool record = false;
        bool stop = false;
        // The hold ran out while the release was held back: acted on if the
        // release turns out to be a repeat.
        HotkeyLongPressTarget expiredTarget = HotkeyLongPressNone;
    };
    PendingTransportRelease pendingRelease_;
    QTimer* releaseSettleTimer_ = nullptr;
    void applyTransportRelease(bool record, bool stop);
    void settlePendingTransportRelease();
    bool slateActive_ = false;
    // The monitor-only slate of the Slate Monitor key or a controller: kept
    // apart so any slate release can end it.
    bool monitorSlateActive_ = false;
    bool comActive_ = false;
    // The receiver of the application's focus signal. A member goes before
    // the QWidget destructor clears the focus (which emits that signal), so
    // the signal never reaches a window that is half destroyed.
    QObject focusGateContext_;

    // ---- Take fields, tool launchers and routing (MainWindowFields.cpp, MainWindowRouting.cpp) ----
public:
    // Steps the scene's trailing capital letters on (A, B ... Z, AA ...) and
    // starts the take count again; nothing while a text field has the focus.
    void onSceneLetterIncrement();
    void onProjectFieldClicked();
    void onSoundRollFieldClicked();
    // The scene with its trailing run of capital letters counted one on.
    static QString sceneAfterLetterIncrement(const QString& scene);
    // A take of 1 to 99 as two digits; anything else as typed.
    static QString normalizedTake(const QString& text);
    // The sound roll a new or emptied field starts on.
    static constexpr const char* kDefaultSoundRoll = "001";
    QLineEdit* projectField() const { return projectEdit_; }
    QLineEdit* soundRollField() const { return soundRollEdit_; }
    QLineEdit* notesField() const { return notesEdit_; }
    QCheckBox* persistNotesBox() const { return persistNotesCheck_; }
    QPushButton* sceneLetterButton() const { return sceneButton_; }
    TcAccuracyTestDialog* tcAccuracyTestDialog() const { return tcAccuracyTestDialog_; }
    MetadataManagerWindow* metadataManagerWindow() const { return metadataManager_; }
    // Tests: the window as it runs when its engine could not be made.
    void dropEngineForTest();

private:
    void setupMetadataFields();
    // The project and sound-roll fields open their dialogs on a left press.
    bool handleMetadataFieldPress(QObject* watched, QEvent* event);
    // Opens the small dark dialog of the project and sound-roll fields; false when cancelled.
    bool askFieldText(const QString& title, const QString& prompt, const QString& placeholder, QString& text);
    void storeText(const char* key, const QString& text);
    // The field's text without leading and trailing blanks, put back into the
    // field when it had any.
    static QString trimmedFieldText(QLineEdit* field);
    // Return, Enter and Escape in a typing field of the window end the edit
    // and give the keys back to the window.
    void watchTypingField(QLineEdit* field);
    void releaseTextFocus();
    void releaseTextFocusOnPassivePress(QObject* watched);
    // Marks a new mixer strip's fader, gain label and track button and
    // watches them: Ctrl-click on the gain label gives 0.0 dB, a right click
    // on the track button picks its colour, and the mouse cannot move a
    // fader that a Cantarem drives.
    void watchMixerStrip(const MixerStrip& strip);
    bool handleMixerStripEvent(QObject* watched, QEvent* event);
    bool isTrackDrivenByCantarem(int track) const;
    // Owned here, not by the QObject tree: it goes with the window's members,
    // before the QWidget destructor deletes the strips (and sends them events).
    std::unique_ptr<QObject> mixerStripWatcher_;
    std::unique_ptr<QObject> typingFieldWatcher_;
    std::unique_ptr<QObject> typingFocusWatcher_;
    void showKeptWindow(QWidget* window);
    void applyInputMatrixLive(const class InputMatrixDialog& dialog);
    // Every key of the input matrix's choices, then one save.
    void storeInputMatrix(const InputMatrixDialog& dialog, int trackCount);
    void applyInputMatrixAccepted(const class InputMatrixDialog& dialog);
    // Routes every track's stored direct output and the stored mix, coms and
    // generator buses again; the engine also resolves the slate and COM ports then.
    void reapplyStoredOutputRouting(int trackCount);
    // Every track's first output port (an empty row clears it) and the bus lists, then one save.
    void storeOutputMatrix(const std::vector<std::vector<std::string>>& routingMatrix, const std::string& mix,
                           const std::string& coms, const std::string& monitor);
    void applyOutputMatrix(const std::vector<std::vector<std::string>>& routingMatrix,
                           const std::vector<std::string>& outputPorts, const std::vector<std::string>& trackNames,
                           const std::string& mix, const std::string& coms, const std::string& monitor,
                           const std::string& ltcGen);

    // The LTC generator and TC test windows go, then the engine shuts down
    // (the window's destructor and tests that drop the engine).
    void shutDownEngineAndItsTools();

    // ---- Drives and media (MainWindowDrives.cpp) ----
public:
    // Tests give the windows volumes of their own (the virtual ones) in
    // place of the machine's; an empty pointer returns to the machine's. The
    // dialogs the window opens see the same volumes. GUI thread, before the
    // window is made.
    static void setVolumeSystemForWindows(std::shared_ptr<class VolumeSystem> system);
    // The time left at the current channel count: "--", "59m", "1h0m", "100h".
    QString formatRecordingTimeRemaining(double availableBytes) const;
    // GiB free on the volume holding `path`; -1 when unavailable.
    double getDriveFreeSpaceGB(const QString& path) const;
    // Armed tracks the recordist can see, plus the mix; 1 without track rows.
    int getRecordingChannelCount() const;
    // Writes and removes a test file on each backup drive in turn; a drive
    // that is not mounted or cannot be written is logged and shown in a
    // "Drive Access Required" box, and the next one is still tested.
    void requestDriveAccessPermissions(const std::vector<std::string>& paths);
    // The backup drive list and the EXT1/EXT2 paths (external1/2), not yet saved.
    void storeBackupDrives(const std::vector<std::string>& paths, const std::vector<std::string>& formats);
    // True when the takes' save folder lies on the volume mounted at `rootPath`.
    bool isRecordingDriveOn(const std::string& rootPath) const;
    // The alarm of EXT1 (0) or EXT2 (1).
    bool isBackupDriveAlarmRaised(int drive) const;
    bool isDriveBlinkPhaseOn() const;
    bool isDriveCopyPhaseOn() const { return copyPhase_; }
    QTimer* driveErrorBlinkTimer() const { return errorBlinkTimer_; }
    QTimer* driveCopyBlinkTimer() const { return copyBlinkTimer_; }

private:
    struct DriveDisplay;
    DriveDisplay& driveDisplay() const;
    // A press on an EXT indicator in alarm acknowledges it; true when consumed.
    bool handleDriveIndicatorPress(QObject* watched, QEvent* event);
    void refreshBackupIndicator(int drive, const std::vector<struct MountedVolume>& volumes, bool takeActive);
    // Draws one indicator (icon, time left and its colour) for the drive at
    // `path` from volumes already listed (one scan per refresh); nothing when
    // the label is null.
    void drawDriveIndicator(QLabel* iconLabel, const QString& path, const std::vector<struct MountedVolume>& volumes);
    void onDriveErrorBlinkTick();
    void onDriveCopyBlinkTick();
    QPixmap driveIcon(const QString& fileName);
    bool isTakeRecordingOrDraining() const;
    // True with an engine; without one, says so in a box.
    bool requireEngine();
    QLabel* showDriveToast(const QString& text, const QString& background);

    mutable std::shared_ptr<DriveDisplay> driveDisplay_;

    // ---- Control surfaces (MainWindowControllers.cpp) ----
public:
    // Registers the window's callbacks on the controller manager; each hands
    // its event to the GUI thread as a queued call. Nothing without a manager.
    void setupMidiCallbacks();
    // A surface's key by its button number, Cantarem 2 layout: 0-11 channel
    // keys, 12 Shift 1, 13 Shift 2, 14 C1 (slate), 15 C2 (COM), 16-17 C3-C4.
    void handleControllerButton(int index, bool pressed);
    // A strip key under a fader that drives `track` (0-31): its PFL.
    void handleControllerTrackButton(int track, bool pressed);

private:
    // The CL-12's instructions box, shown once per run by its driver.
    static void installControllerInstructionsBox();
    void toggleStripPfl(int stripIndex);

    // Which slate C1's press opened, so its release ends that one whatever
    // Shift 2 does in between.
    enum class ControllerSlate { None, Recorded, Monitor };
    ControllerSlate controllerSlate_ = ControllerSlate::None;
    bool shift1Held_ = false;
    bool shift2Held_ = false;
    // ---- Rows, strips, meters and timecode (MainWindowStrips.cpp, MainWindowMeters.cpp) ----
public:
    // "automix." N as a group 0 to 4: empty, "no", "false" and text that is
    // no number give 0, "yes" and "true" 1, numbers are clamped.
    static int readAutomixGroupFromConfig(int track);
    static QString automixButtonStyle(int group);
    static void applyAutomixButtonAppearance(QToolButton* button, int group);
    // The share readout of a track in an automix group; an empty style
    // means the label keeps the one it has.
    struct AutomixShareText {
        QString text;
        QString styleSheet;
    };
    static AutomixShareText automixShareText(float share);

    int shownTrackCount() const { return shownTrackCount_; }
    void rebuildTracksForTest(int count, const std::vector<std::string>& names) { rebuildTracksAndMixer(count, names); }
    QTimer* configSaveTimer() const { return configSaveTimer_; }
    MeterWidget* mixMeter() const { return mixMeter_; }
    QAction* automixAction() const { return automixAction_; }
    // The frame-rate menu at the badge; `position` in the badge's coordinates.
    void onFramerateContextMenu(const QPoint& position);

private:
    void onArmToggled(int track, bool armed);
    void onAutomixButtonClicked(int track);
    void showStripName(int track, const QString& name);
    void onChannelStripRequested(int track);
    void onPflToggled(int track, bool on);
    // The gain label and the engine gain of a fader value.
    void applyFaderGainAndLabel(int track, int tenthsDb);
    // The stored "fader.N", or the position of the Cantarem 2 fader that drives the track.
    int startingFaderTenthsDb(int track) const;
    // The engine's automixer; none without an engine that has one.
    AutomixEngine* automixEngine() const;

    int shownTrackCount_ = 8;
};

// The name a mixer strip shows: names of up to 8 characters as they are,
// longer ones cut to 7 and "…", or a first word and initials.
QString shortStripName(const QString& name);
// The strip label: shortStripName, or the track number for a blank name.
QString shortStripName(const QString& name, int number);

// The frame-rate badge's text for a rate (0 or less: none detected).
QString framerateBadgeText(double rate, bool dropFrame);
