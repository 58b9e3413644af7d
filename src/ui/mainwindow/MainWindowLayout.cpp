#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/AudioKeys.h"
#include "core/settings/TrackKeys.h"
#include "core/settings/WindowKeys.h"
#include "engine/AudioEngineBase.h"
#include "ui/common/ElidedTextButton.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"
#include "ui/common/Theme.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kInitialTracks = 8;
constexpr int kTracksPerColumn = 16;
constexpr int kMaxTracks = 32;
constexpr int kFittingRetries = 4;
// Track rows are at least 26 pixels high with 2 between them; the list keeps
// 6 pixels besides (the scaling's own allowance).
constexpr int kTrackRowMinimumPx = 26;
constexpr int kTrackRowSpacingPx = 2;
constexpr int kTrackListAllowancePx = 6;
// Fader travel: never less than the least, and the comfortable travel
// without auto-fit wherever the window has the room for it.
constexpr int kLeastFaderTravelPx = 150;
constexpr int kComfortableFaderTravelPx = 200;
// A track list scrolled short by the mixer still shows a row and a half.
constexpr int kTrackListLeastPx = 40;
// The cap of a real fader is narrow whatever the strip's width, and short
// against its fader, so that most of the fader is travel.
constexpr int kCapMaximumWidthPx = 48;
constexpr int kCapMinimumHeightPx = 16;
constexpr int kCapMaximumHeightPx = 60;
constexpr int kTrackButtonMinimumPx = 12;
constexpr int kTrackButtonMaximumPx = 16;
// A strip name shrinks to this size before it would run into its neighbour.
constexpr int kStripNameSmallestPx = 8;
// Wide strips keep these label sizes: larger ones would take fader travel.
constexpr int kStripNameLargestPx = 12;
constexpr int kGainLabelLargestPx = 11;

int capHeightPx(int faderHeightPx)
{
    return std::clamp(faderHeightPx / 10, kCapMinimumHeightPx, kCapMaximumHeightPx);
}

// The shortest fader whose handle travels `travelPx` beside its cap.
int faderHeightForTravelPx(int travelPx)
{
    int height = travelPx + kCapMinimumHeightPx;
    while (height - capHeightPx(height) < travelPx)
        ++height;
    return height;
}

// Strip labels and the fader are restyled on every resize; setting an equal
// sheet again would only re-polish the widget and lay the strip out anew.
void setStyleSheetIfChanged(QWidget& widget, const QString& sheet)
{
    if (widget.styleSheet() != sheet)
        widget.setStyleSheet(sheet);
}

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

void saveBool(const char* key, bool value)
{
    config()->setBool(key, value);
    config()->saveConfig("");
}

// One labelled field. The edit grows from `minimumWidth` to 1.5 x `width`;
// the small minimum lets the narrowest window (1024 pixels) keep every
// label whole, the edit scrolling its text instead.
// Wide enough for the whole hint: an elided "Click..." tells nobody what to
// do. The style sheet's padding and border and the line edit's own margins.
int placeholderWidth(const QLineEdit& edit)
{
    constexpr int kFrameAndPadding = 2 * (1 + 6 + 2);
    return edit.fontMetrics().horizontalAdvance(edit.placeholderText()) + kFrameAndPadding;
}

QWidget* createMetadataField(QWidget* parent, const QString& label, QLineEdit*& edit, const QString& placeholder,
                             int width, int minimumWidth)
{
    // The label above its field: side by side, the four fields and their
    // hints need more than the bar has beside the transport at 1024 px.
    auto* field = new QWidget(parent);
    auto* layout = new QVBoxLayout(field);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* text = new QLabel(label, field);
    text->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    edit = new QLineEdit(field);
    edit->setPlaceholderText(placeholder);
    edit->setMinimumHeight(24);
    edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    edit->setMinimumWidth(std::max(minimumWidth, placeholderWidth(*edit)));
    edit->setMaximumWidth(std::max(static_cast<int>(width * 1.5), edit->minimumWidth()));
    layout->addStretch();
    layout->addWidget(text);
    layout->addWidget(edit);
    layout->addStretch();
    return field;
}

} // namespace

void MainWindow::applyDarkTheme()
{
    setStyleSheet(darkWindowStyleSheet());
}

void MainWindow::setupUI()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setSpacing(10);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(buildControlBar());
    layout->addWidget(buildMixRow());
    buildTrackList();

    mainSplitter_ = new QSplitter(Qt::Vertical, central);
    mainSplitter_->setChildrenCollapsible(false);
    mainSplitter_->setHandleWidth(10);
    mainSplitter_->setStyleSheet(QString("QSplitter::handle { background-color: %1; border-top: 1px solid %2; "
                                         "border-bottom: 1px solid %3; }QSplitter::handle:hover { background-color: "
                                         "%4; }")
                                     .arg(Theme::kSplitterHandle, Theme::kSplitterEdgeLight,
                                          Theme::kSplitterEdgeDark, Theme::kSplitterHandleHover));
    mainSplitter_->addWidget(trackScrollArea_);
    buildMixerPanel();
    mainSplitter_->addWidget(mixerPanel_);
    mainSplitter_->setStretchFactor(0, 3);
    mainSplitter_->setStretchFactor(1, 1);
    layout->addWidget(mainSplitter_, 1);
    connect(mainSplitter_, &QSplitter::splitterMoved, this, [this] {
        const QList<int> sizes = mainSplitter_->sizes();
        if (sizes.size() >= 2) {
            config()->setInt(WindowKeys::kSplitTracks, sizes[0]);
            config()->setInt(WindowKeys::kSplitMixer, sizes[1]);
            config()->saveConfig("");
        }
        QTimer::singleShot(0, this, [this] {
            updateTrackListScaling();
            updateMixerFaderSizes();
        });
    });
    setCentralWidget(central);
}

QWidget* MainWindow::buildControlBar()
{
    auto* bar = new QWidget(this);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 0, 0);

    timecodeLabel_ = new QLabel("--:--:--", bar);
    timecodeLabel_->setStyleSheet(QString("font-size: 28px; font-family: 'Courier New', 'Monaco', 'Menlo', "
                                          "monospace; font-weight: bold; padding: 0px; letter-spacing: 1px; "
                                          "background-color: transparent; color: %1;")
                                      .arg(Theme::kTimecode));
    timecodeLabel_->setFixedWidth(160);
    timecodeLabel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    timecodeLabel_->setAlignment(Qt::AlignCenter);
    takeTimeLabel_ = new QLabel("--:--", bar);
    takeTimeLabel_->setStyleSheet(QString("font-size: 14px; font-family: monospace; color: %1; font-weight: bold; "
                                          "background-color: transparent; padding: 0px;")
                                      .arg(Theme::kAlert));
    takeTimeLabel_->setAlignment(Qt::AlignCenter);
    framerateLabel_ = new QLabel(bar);
    framerateLabel_->setStyleSheet(QString("font-size: 14px; color: %1; font-weight: bold; padding: 4px 10px; "
                                           "background-color: %3; border: 1px solid %2; border-radius: 4px;")
                                       .arg(Theme::kAlert, Theme::kAlertBorder, Theme::kBgAlertPanel));
    framerateLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    framerateLabel_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(framerateLabel_, &QLabel::customContextMenuRequested, this, &MainWindow::onFramerateContextMenu);

    timecodePanel_ = new QWidget(bar);
    auto* panelLayout = new QHBoxLayout(timecodePanel_);
    panelLayout->setContentsMargins(8, 8, 8, 8);
    panelLayout->setSpacing(10);
    auto* clocks = new QWidget(timecodePanel_);
    clocks->setAttribute(Qt::WA_TranslucentBackground);
    auto* clocksLayout = new QVBoxLayout(clocks);
    clocksLayout->setContentsMargins(0, 0, 0, 0);
    clocksLayout->setSpacing(2);
    clocksLayout->addWidget(timecodeLabel_);
    clocksLayout->addWidget(takeTimeLabel_);
    panelLayout->addWidget(clocks);
    panelLayout->addWidget(framerateLabel_);
    timecodePanel_->setStyleSheet(timecodePanelStyle());
    timecodePanel_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);

    slateButton_ = new QPushButton("SLATE", bar);
    comButton_ = new QPushButton("COM", bar);
    for (QPushButton* button : {slateButton_, comButton_}) {
        button->setStyleSheet(slateComIdleStyle());
        button->setMinimumWidth(70);
        button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    }

    recordStopContainer_ = new QWidget(bar);
    recordStopContainer_->setStyleSheet(recordStopPanelStyle());
    auto* recordLayout = new QHBoxLayout(recordStopContainer_);
    recordLayout->setContentsMargins(6, 4, 6, 4);
    recordStopButton_ = new QLabel(recordStopContainer_);
    recordStopButton_->setAlignment(Qt::AlignCenter);
    recordStopButton_->setScaledContents(false);
    recordStopButton_->setMouseTracking(false);
    recordStopButton_->setCursor(Qt::PointingHandCursor);
    recordStopButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    recordStopButton_->installEventFilter(this);
    const QPixmap image(findResourcePath("BUTTONS OFF.png"));
    if (image.isNull()) {
        recordStopButton_->setText("Record/Stop");
        recordStopButton_->setStyleSheet(
            QString("background-color: %1; color: white; padding: 10px;").arg(Theme::kBgRecordStopFallback));
        recordStopButton_->setFixedSize(120, 50);
    } else {
        const QPixmap scaled = image.scaledToHeight(60, Qt::SmoothTransformation);
        recordStopButton_->setPixmap(scaled);
        recordStopButton_->setFixedSize(scaled.width(), 60);
    }
    recordLayout->addWidget(recordStopButton_);

    // A long scene must not widen the column and squeeze the metadata fields.
    lastRecordingButton_ = new ElidedTextButton(bar);
    lastRecordingButton_->setFlat(true);
    lastRecordingButton_->setObjectName("lastRecordingLabel");
    QFont lastFont = lastRecordingButton_->font();
    lastFont.setPointSize(16);
    lastFont.setWeight(QFont::Bold);
    lastRecordingButton_->setFont(lastFont);
    lastRecordingButton_->setStyleSheet(QString("#lastRecordingLabel { color: %1; background: transparent; border: "
                                                "none; text-align: left; padding: 8px 0px; }#lastRecordingLabel:hover "
                                                "{ color: %2; }")
                                            .arg(Theme::kGo, Theme::kGoHover));
    lastRecordingButton_->setCursor(Qt::PointingHandCursor);
    lastRecordingButton_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lastRecordingButton_, &QPushButton::clicked, this, &MainWindow::onLastRecordingClicked);
    connect(lastRecordingButton_, &QPushButton::customContextMenuRequested, this,
            &MainWindow::onLastRecordingRightClick);

    auto* leftColumn = new QWidget(bar);
    auto* leftLayout = new QVBoxLayout(leftColumn);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(5);
    auto* timecodeRow = new QHBoxLayout;
    timecodeRow->setContentsMargins(0, 0, 0, 0);
    timecodeRow->setSpacing(5);
    timecodeRow->addWidget(timecodePanel_);
    leftLayout->addLayout(timecodeRow);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->setSpacing(5);
    buttonRow->addWidget(recordStopContainer_);
    buttonRow->addWidget(slateButton_);
    buttonRow->addWidget(comButton_);
    buttonRow->addStretch();
    leftLayout->addLayout(buttonRow);
    leftLayout->addWidget(lastRecordingButton_);

    metadataGroup_ = new QGroupBox("Recording Metadata", bar);
    metadataGroup_->setStyleSheet(metadataGroupStyle(false));
    metadataGroup_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* groupLayout = new QVBoxLayout(metadataGroup_);
    groupLayout->setContentsMargins(10, 15, 10, 10);
    groupLayout->setSpacing(10);
    auto* firstRow = new QHBoxLayout;
    firstRow->setContentsMargins(0, 0, 0, 0);
    firstRow->setSpacing(10);
    firstRow->addWidget(createMetadataField(metadataGroup_, "Project:", projectEdit_, "Click to set", 120, 60), 1);
    firstRow->addWidget(createMetadataField(metadataGroup_, "Sound Roll:", soundRollEdit_, "Click to set", 120, 40), 1);
    for (auto [edit, type] : {std::pair{projectEdit_, "project"}, std::pair{soundRollEdit_, "soundroll"}}) {
        edit->setReadOnly(true);
        edit->setCursor(Qt::PointingHandCursor);
        edit->setStyleSheet(edit->styleSheet() +
                            QString("QLineEdit:read-only { background-color: %1; }").arg(Theme::kBgControl));
        edit->setProperty("isClickableField", true);
        edit->setProperty("fieldType", type);
    }
    auto* sceneItem = new QWidget(metadataGroup_);
    auto* sceneLayout = new QVBoxLayout(sceneItem);
    sceneLayout->setContentsMargins(0, 0, 0, 0);
    sceneLayout->setSpacing(2);
    sceneButton_ = new QPushButton("Scene:", sceneItem);
    sceneButton_->setFlat(true);
    sceneButton_->setStyleSheet("QPushButton { background: transparent; border: none; text-align: left; } "
                                "QPushButton:hover { background: transparent; border: none; }");
    sceneButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sceneButton_->setFocusPolicy(Qt::NoFocus);
    sceneEdit_ = new QLineEdit(sceneItem);
    sceneEdit_->setPlaceholderText("e.g., Scene01");
    sceneEdit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    sceneEdit_->setMinimumWidth(std::max(45, placeholderWidth(*sceneEdit_)));
    sceneEdit_->setMaximumWidth(std::max(150, sceneEdit_->minimumWidth()));
    sceneLayout->addStretch();
    sceneLayout->addWidget(sceneButton_);
    sceneLayout->addWidget(sceneEdit_);
    sceneLayout->addStretch();
    firstRow->addWidget(sceneItem, 1);
    firstRow->addWidget(createMetadataField(metadataGroup_, "Take:", takeEdit_, "e.g., 01", 80, 35), 1);
    groupLayout->addLayout(firstRow);

    auto* secondRow = new QHBoxLayout;
    secondRow->setContentsMargins(0, 0, 0, 0);
    secondRow->setSpacing(5);
    auto* notesLabel = new QLabel("Notes:", metadataGroup_);
    notesLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    notesEdit_ = new QLineEdit(metadataGroup_);
    notesEdit_->setPlaceholderText("Recording notes...");
    notesEdit_->setMinimumHeight(40);
    notesEdit_->setMinimumWidth(200);
    notesEdit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    persistNotesCheck_ = new QCheckBox("P", metadataGroup_);
    persistNotesCheck_->setToolTip("Persist notes between takes (click to toggle)");
    persistNotesCheck_->setMinimumSize(40, 30);
    persistNotesCheck_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    persistNotesCheck_->setCursor(Qt::PointingHandCursor);
    persistNotesCheck_->setStyleSheet(
        QString("QCheckBox { color: %1; font-weight: bold; padding: 4px; }QCheckBox::indicator { width: 18px; "
                "height: 18px; border-radius: 3px; }QCheckBox::indicator:unchecked { background-color: %2; "
                "border: 2px solid %3; }QCheckBox::indicator:checked { background-color: %4; border: 2px "
                "solid %1; }QCheckBox:hover { background-color: %5; border-radius: 3px; }")
            .arg(Theme::kAccent, Theme::kBgField, Theme::kBorderIndicator, Theme::kPersistTicked, Theme::kBgSelection));
    secondRow->addWidget(notesLabel);
    secondRow->addWidget(notesEdit_, 1);
    secondRow->addWidget(persistNotesCheck_);
    groupLayout->addLayout(secondRow);

    QWidget* intIndicator = createDriveIndicator("INT");
    QWidget* ext1Indicator = createDriveIndicator("EXT1");
    QWidget* ext2Indicator = createDriveIndicator("EXT2");
    intDriveIcon_ = intIndicator->findChild<QLabel*>("imageLabel");
    ext1DriveIcon_ = ext1Indicator->findChild<QLabel*>("imageLabel");
    ext2DriveIcon_ = ext2Indicator->findChild<QLabel*>("imageLabel");
    for (auto [icon, indicator] :
         {std::pair{intDriveIcon_, intIndicator}, {ext1DriveIcon_, ext1Indicator}, {ext2DriveIcon_, ext2Indicator}}) {
        icon->setProperty("parentWidget", QVariant::fromValue<QObject*>(indicator));
        icon->setProperty("timeLabel", QVariant::fromValue<QObject*>(indicator->findChild<QLabel*>("timeLabel")));
    }
    ext1Indicator->setProperty("driveIndex", 1);
    ext2Indicator->setProperty("driveIndex", 2);

    barLayout->addWidget(leftColumn);
    barLayout->addSpacing(10);
    barLayout->addWidget(metadataGroup_, 1);
    barLayout->addStretch();
    barLayout->addWidget(intIndicator);
    barLayout->addWidget(ext1Indicator);
    barLayout->addWidget(ext2Indicator);
    return bar;
}

QWidget* MainWindow::buildMixRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* indent = new QWidget(row);
    indent->setMinimumWidth(75);
    indent->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    mixLabel_ = new QLabel("Mix:", row);
    mixLabel_->setMinimumWidth(50);
    mixLabel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    QFont bold = mixLabel_->font();
    bold.setWeight(QFont::Bold);
    mixLabel_->setFont(bold);
    mixMeter_ = new MeterWidget(row);
    mixMeter_->setFixedHeight(14);
    layout->addWidget(indent);
    layout->addWidget(mixLabel_);
    layout->addSpacing(8);
    layout->addWidget(mixMeter_, 1);
    layout->addStretch();
    return row;
}

void MainWindow::buildTrackList()
{
    trackScrollArea_ = new QScrollArea(this);
    trackScrollArea_->setWidgetResizable(true);
    trackScrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Rows stop shrinking at 26 px: on a short window the rest of the list
    // must stay reachable, never cut off unseen.
    trackScrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    trackScrollArea_->setFrameShape(QFrame::NoFrame);
    trackScrollArea_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    trackListWidget_ = new QWidget(trackScrollArea_);
    auto* columns = new QHBoxLayout(trackListWidget_);
    columns->setSpacing(10);
    columns->setContentsMargins(0, 0, 0, 0);
    auto* leftColumn = new QWidget(trackListWidget_);
    trackLayoutLeft_ = new QVBoxLayout(leftColumn);
    trackColumnRight_ = new QWidget(trackListWidget_);
    trackLayoutRight_ = new QVBoxLayout(trackColumnRight_);
    for (QVBoxLayout* column : {trackLayoutLeft_, trackLayoutRight_}) {
        column->setSpacing(2);
        column->setContentsMargins(0, 0, 0, 0);
    }
    columns->addWidget(leftColumn);
    columns->addWidget(trackColumnRight_);
    trackColumnRight_->hide();
    for (int index = 0; index < kInitialTracks; ++index)
        createTrackWidget(index, QString("Track %1").arg(index + 1));
    trackLayoutLeft_->addStretch();
    trackLayoutRight_->addStretch();
    trackScrollArea_->setWidget(trackListWidget_);
}

void MainWindow::buildMixerPanel()
{
    mixerPanel_ = new QWidget(this);
    auto* layout = new QVBoxLayout(mixerPanel_);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->setSpacing(5);
    mixerWatermark_ = new QLabel("QUILLMERE  PRODUCTION  SOUND", mixerPanel_);
    mixerWatermark_->setAlignment(Qt::AlignCenter);
    mixerWatermark_->setWordWrap(false);
    mixerWatermark_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    mixerWatermark_->setStyleSheet(mixerWatermarkStyle());
    layout->addWidget(mixerWatermark_, 1);
    // 32 strips are wider than the narrowest window: the row scrolls
    // sideways rather than squeezing strips into each other or off the edge.
    mixerStripsWidget_ = new QScrollArea(mixerPanel_);
    mixerStripsWidget_->setFrameShape(QFrame::NoFrame);
    mixerStripsWidget_->setWidgetResizable(true);
    mixerStripsWidget_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mixerStripsWidget_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mixerStripsWidget_->setStyleSheet("background: transparent;");
    auto* stripRow = new QWidget(mixerStripsWidget_);
    mixerStripsLayout_ = new QHBoxLayout(stripRow);
    mixerStripsLayout_->setSpacing(0);
    mixerStripsLayout_->setContentsMargins(0, 0, 0, 0);
    mixerStripsLayout_->setAlignment(Qt::AlignLeft);
    mixerStripsWidget_->setWidget(stripRow);
    for (int index = 0; index < kInitialTracks; ++index)
        createMixerFader(index, QString("Track %1").arg(index + 1));
    mixerStripsWidget_->hide();
    layout->addWidget(mixerStripsWidget_, 1);
    updateMixerWatermark();
}

void MainWindow::setupMenus()
{
    QMenu* routing = menuBar()->addMenu("&Routing");
    routing->addAction("Input Matrix", this, &MainWindow::onInputMatrix);
    routing->addAction("Output Matrix", this, &MainWindow::onOutputMatrix);
    routing->addSeparator();
    routing->addAction("AUX Sends", this, &MainWindow::onAuxSends);
    routing->addAction("Playback Routing", this, &MainWindow::onPlaybackRouting);
    routing->addSeparator();
    routing->addAction("Save/Load Configuration...", this, &MainWindow::onSaveLoadConfig);
    routing->addSeparator();
    testToneAction_ = routing->addAction("Test Tone (1kHz)");
    testToneAction_->setCheckable(true);
    connect(testToneAction_, &QAction::toggled, this, [this](bool checked) {
        if (engine_)
            engine_->setTestToneEnabled(checked);
    });
    routing->addSeparator();
    bitbucketAction_ = routing->addAction("Bitbucket Mode");
    bitbucketAction_->setCheckable(true);
    bitbucketAction_->setChecked(config()->getBool(AudioKeys::kBitbucketMode, false));
    connect(bitbucketAction_, &QAction::toggled, this, &MainWindow::applyBitbucketMode);

    QMenu* media = menuBar()->addMenu("&Media");
    media->addAction("Media Settings", this, &MainWindow::onMediaSettings);
    media->addSeparator();
    formatDriveAction_ = media->addAction("Format External Drive (exFAT)...", this, &MainWindow::onFormatExternalDrive);
    formatDriveAction_->setEnabled(false);

    QMenu* audio = menuBar()->addMenu("&Audio");
    audio->addAction("Select Audio Device...", this, &MainWindow::onCoreAudioDeviceSelection);
    audio->addSeparator();
    beepAction_ = audio->addAction("Beep on Record");
    beepAction_->setCheckable(true);
    beepAction_->setChecked(config()->getBool(AudioKeys::kBeepOnRecord, false));
    connect(beepAction_, &QAction::toggled, this, [this](bool checked) {
        saveBool(AudioKeys::kBeepOnRecord, checked);
        if (engine_)
            engine_->setBeepOnRecordEnabled(checked);
    });

    controllerMenu_ = menuBar()->addMenu("&Controller");
    controllerMenu_->addAction("Select Control Surface", this, &MainWindow::onControllerSelection);
    showMixerAction_ = controllerMenu_->addAction("Show Mixer");
    showMixerAction_->setCheckable(true);
    connect(showMixerAction_, &QAction::toggled, this, [this](bool checked) {
        mixerStripsWidget_->setVisible(checked);
        mixerVisible_ = checked;
        saveBool(WindowKeys::kMixerVisible, checked);
        updateMixerWatermark();
        if (checked) {
            QTimer::singleShot(0, this, [this] {
                fitMixerPane();
                updateMixerFaderSizes();
            });
        }
    });
    controllerMenu_->addSeparator();
    autoFitAction_ = controllerMenu_->addAction("Auto-fit Tracks + Mixer");
    autoFitAction_->setCheckable(true);
    autoFitAction_->setChecked(config()->getBool(WindowKeys::kAutoFitLayout, false));
    connect(autoFitAction_, &QAction::toggled, this, [this](bool checked) {
        // Choosing a layout asks for the panes to be fitted anew: a split
        // dragged before gives way until the person drags it again.
        config()->setInt(WindowKeys::kSplitTracks, -1);
        config()->setInt(WindowKeys::kSplitMixer, -1);
        saveBool(WindowKeys::kAutoFitLayout, checked);
        applyAutoFitLayout(checked);
    });
    controllerMenu_->addSeparator();
    automixAction_ = controllerMenu_->addAction("Enable Automix");
    automixAction_->setCheckable(true);
    automixAction_->setChecked(config()->getBool(TrackKeys::kAutomixGlobal, TrackKeys::kAutomixGlobalDefault));
    connect(automixAction_, &QAction::toggled, this, [this](bool checked) {
        saveBool(TrackKeys::kAutomixGlobal, checked);
        updateAutomixUiState();
    });

    QMenu* tools = menuBar()->addMenu("&Tools");
    tools->addAction("LTC Generator", this, &MainWindow::onLtcGenerator);
    tools->addAction("TC Accuracy Test...", this, &MainWindow::onTcAccuracyTest);
    tools->addSeparator();
    tools->addAction("Offsets...", this, &MainWindow::onOffsets);
    tools->addSeparator();
    tools->addAction("Metadata Manager", this, &MainWindow::onMetadataManager);
    tools->addAction("Sound Report", this, &MainWindow::onSoundReport);
    tools->addSeparator();
    tools->addAction("Audio Playback", this, &MainWindow::onPlayback);
    tools->addSeparator();
    tools->addAction("Hotkeys...", this, &MainWindow::onHotkeysConfig);
    tools->addSeparator();
    tools->addAction("File Server...", this, &MainWindow::onFileServer);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("Recover Recordings...", this, &MainWindow::onRecoverRecordings);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    setFocus(Qt::OtherFocusReason);
    QTimer::singleShot(0, this, [this] {
        fitMixerPane();
        updateTrackListScaling();
        updateMixerFaderSizes();
    });
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    fitMixerPane();
    updateMixerFaderSizes();
    updateMixerWatermark();
    updateTrackListScaling();
}

void MainWindow::updateMetadataGroupStyle(bool recording)
{
    if (metadataGroup_ == nullptr)
        return;
    metadataGroup_->setProperty("recording", recording);
    metadataGroup_->setStyleSheet(metadataGroupStyle(recording));
}

void MainWindow::applyWidgetStyles()
{
    applyDarkTheme();
    timecodePanel_->setStyleSheet(timecodePanelStyle());
    slateButton_->setStyleSheet(slateComIdleStyle());
    comButton_->setStyleSheet(slateComIdleStyle());
    recordStopContainer_->setStyleSheet(recordStopPanelStyle());
    mixerWatermark_->setStyleSheet(mixerWatermarkStyle());
    mixerStripsWidget_->setStyleSheet("background: transparent;");
    updateMetadataGroupStyle(isRecording_);
    for (const TrackRow& row : trackRows_)
        row.rowWidget->setStyleSheet(trackRowStyle(row.armButton->isChecked()));
    updateTrackListScaling();
    updateMixerFaderSizes();
    updateMixerWatermark();
    updateDriveStatus();
}

void MainWindow::updateTrackListScaling()
{
    // Rows hidden by a smaller track count are kept, so the shown count is
    // what has to fit.
    const int rows = std::min(shownTrackCount_, static_cast<int>(trackRows_.size()));
    if (trackScrollArea_ == nullptr || rows < 1)
        return;
    // Rows fill the left column up to 16 before the right one starts, so the
    // left column is the one that must fit.
    const int perColumn = std::min(rows, kTracksPerColumn);
    QWidget* viewport = trackScrollArea_->viewport();
    const int height = viewport != nullptr ? viewport->height() : 0;
    if (height <= 1) {
        if (trackScalingRetries_ <= kFittingRetries) {
            ++trackScalingRetries_;
            QTimer::singleShot(0, this, &MainWindow::updateTrackListScaling);
        }
        return;
    }
    trackScalingRetries_ = 0;
    // The 2-pixel gaps between rows come off first: rows that filled the
    // height without them would overflow it and bring up the scroll bar.
    const int band = (std::max(height, 7) - 6 - kTrackRowSpacingPx * (perColumn - 1)) / perColumn;
    const int rowHeight = std::clamp(band, 26, 34);
    const int meterHeight = band < 27 ? 11 : (band < 29 ? 12 : 14);
    const int nameWidth = band < 27 ? 75 : (band < 29 ? 85 : 100);
    for (const TrackRow& row : trackRows_) {
        if (row.rowWidget == nullptr || row.meter == nullptr)
            continue;
        row.rowWidget->setFixedHeight(rowHeight);
        row.meter->setFixedHeight(meterHeight);
        if (row.nameEdit != nullptr) {
            // The sheet's max-height counts without padding and border: the
            // fixed size goes last so the edit stays inside its row.
            row.nameEdit->setStyleSheet(trackNameEditStyle(rowHeight - 4));
            row.nameEdit->setFixedWidth(nameWidth);
            row.nameEdit->setFixedHeight(rowHeight - 4);
        }
    }
    if (mixMeter_ != nullptr)
        mixMeter_->setFixedHeight(meterHeight);
}

// The largest font, from `largestPx` down, in which every shown strip name
// fits its strip with a pixel to spare on each side.
int MainWindow::stripNameFontPx(int largestPx, int stripWidth) const
{
    int sizePx = largestPx;
    for (; sizePx > kStripNameSmallestPx; --sizePx) {
        if (widestStripNamePx(sizePx) <= stripWidth - 2)
            break;
    }
    return sizePx;
}

int MainWindow::shownMixerStripCount() const
{
    return static_cast<int>(std::count_if(mixerStrips_.begin(), mixerStrips_.end(), [](const MixerStrip& strip) {
        return strip.stripWidget != nullptr && !strip.stripWidget->isHidden();
    }));
}

// The widest shown strip name in the bold strip font of `fontPx` pixels,
// measured with the fonts this machine really draws it in.
int MainWindow::widestStripNamePx(int fontPx) const
{
    int widest = 0;
    for (const MixerStrip& strip : mixerStrips_) {
        if (strip.nameLabel == nullptr || strip.stripWidget == nullptr || strip.stripWidget->isHidden())
            continue;
        QFont font = strip.nameLabel->font();
        font.setPixelSize(fontPx);
        font.setBold(true);
        widest = std::max(widest, QFontMetrics(font).horizontalAdvance(strip.nameLabel->text()));
    }
    return widest;
}

// Gives every strip its width and its label fonts; returns the width, or 0
// while the strip row has no width yet. A strip is never narrower than its
// name in the smallest strip font: the row scrolls instead.
int MainWindow::applyMixerStripWidths()
{
    const int width = mixerStripsWidget_->width() >= 2 ? mixerStripsWidget_->width() : mixerPanel_->width();
    if (width < 2)
        return 0;
    const int available = width > 10 ? width - 10 : 0;
    int stripWidth = 0;
    if (autoFitLayout_)
        stripWidth = std::clamp(available / std::max(shownMixerStripCount(), 1), 40, 220);
    else
        stripWidth = width >= 4810 ? 150 : std::max(available / kMaxTracks, 40);
    stripWidth = std::max(stripWidth, widestStripNamePx(kStripNameSmallestPx) + 2);
    const int nameFont = stripNameFontPx(std::min((stripWidth - 40) / 20 + 11, kStripNameLargestPx), stripWidth);
    const int gainFont = std::min((stripWidth - 40) / 28 + 10, kGainLabelLargestPx);
    const int buttonHeight = std::clamp(stripWidth / 3, kTrackButtonMinimumPx, kTrackButtonMaximumPx);
    const QString nameStyle = stripNameStyle(nameFont);
    const QString gainStyle = gainLabelStyle(gainFont); // its cursor is set on the label
    for (MixerStrip& strip : mixerStrips_) {
        strip.stripWidget->setFixedWidth(stripWidth);
        strip.fader->setFixedWidth(stripWidth - 10);
        strip.trackButton->setFixedWidth(std::max(stripWidth, 42) - 12);
        strip.trackButton->setMaximumHeight(buttonHeight);
        strip.trackButton->setMinimumHeight(0);
        setStyleSheetIfChanged(*strip.nameLabel, nameStyle);
        setStyleSheetIfChanged(*strip.gainLabel, gainStyle);
    }
    return stripWidth;
}

// The height a strip needs besides its fader: labels as their fonts really
// draw them (a fallback font for a glyph can make a line taller), buttons
// and gaps, whatever fonts the machine has.
int MainWindow::mixerStripChromePx() const
{
    int chrome = 0;
    for (const MixerStrip& strip : mixerStrips_) {
        if (strip.stripWidget == nullptr || strip.stripWidget->isHidden() || strip.stripWidget->layout() == nullptr)
            continue;
        const QLayout* layout = strip.stripWidget->layout();
        int height = 0;
        for (int index = 0; index < layout->count(); ++index) {
            QLayoutItem* item = layout->itemAt(index);
            if (item->widget() != strip.fader)
                height += item->sizeHint().height();
        }
        chrome = std::max(chrome, height);
    }
    return chrome;
}

// The height of the strip row's scroll bar when the strips are wider than
// the row, else 0.
int MainWindow::mixerRowScrollBarPx(int stripWidth) const
{
    const int rowWidth = stripWidth * shownMixerStripCount();
    const int width = mixerStripsWidget_->width() >= 2 ? mixerStripsWidget_->width() : mixerPanel_->width();
    return rowWidth > width ? mixerStripsWidget_->horizontalScrollBar()->sizeHint().height() : 0;
}

// Shares the splitter between the track list and the shown mixer. The mixer
// always gets the height its faders need for their least travel, measured
// from the strip's real fonts; the track list scrolls when its rows need
// more than is left. With auto-fit the mixer takes everything the rows
// leave; without it, it gets the comfortable travel where the rows leave
// room for it (a pane made larger stays so). A share the person set by
// moving the splitter (stored under "ui.split.") is left as it is in either
// layout, also after a restart; choosing a layout forgets it.
void MainWindow::fitMixerPane()
{
    if (!mixerVisible_ || mainSplitter_ == nullptr || mainSplitter_->count() < 2 || mixerPanel_ == nullptr)
        return;
    const bool splitSetByHand =
        config()->getInt(WindowKeys::kSplitTracks, 0) >= 1 && config()->getInt(WindowKeys::kSplitMixer, 0) >= 1;
    if (splitSetByHand)
        return;
    const QList<int> sizes = mainSplitter_->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (total < 2)
        return;
    const int stripWidth = applyMixerStripWidths();
    const QMargins margins = mixerPanel_->layout()->contentsMargins();
    const int besideFaderPx = margins.top() + margins.bottom() + mixerStripChromePx() + mixerRowScrollBarPx(stripWidth);
    const int leastMixerPx = besideFaderPx + faderHeightForTravelPx(kLeastFaderTravelPx);
    const int comfortableMixerPx = besideFaderPx + faderHeightForTravelPx(kComfortableFaderTravelPx);

    const int rows = std::min(shownTrackCount_, static_cast<int>(trackRows_.size()));
    const int perColumn = std::max(std::min(rows, kTracksPerColumn), 1);
    const int trackListPx =
        perColumn * kTrackRowMinimumPx + (perColumn - 1) * kTrackRowSpacingPx + kTrackListAllowancePx;
    const int besideRowsPx = std::max(total - trackListPx, 0);
    int mixerPx = autoFitLayout_ ? besideRowsPx
                                 : std::min(std::max(sizes.value(1), comfortableMixerPx), besideRowsPx);
    mixerPx = std::min(std::max(mixerPx, leastMixerPx), std::max(total - kTrackListLeastPx, 1));
    if (mixerPx != sizes.value(1))
        mainSplitter_->setSizes({total - mixerPx, mixerPx});
}

void MainWindow::updateMixerFaderSizes()
{
    if (mixerStrips_.empty() || mixerStripsWidget_ == nullptr)
        return;
    if (!mixerStripsWidget_->isVisible()) {
        mixerSizingRetries_ = 0;
        return;
    }
    const int width = mixerStripsWidget_->width();
    const int height = mixerStripsWidget_->height();
    if (width < 2 || height < 2) {
        if (mixerSizingRetries_ <= kFittingRetries) {
            ++mixerSizingRetries_;
            QTimer::singleShot(0, this, &MainWindow::updateMixerFaderSizes);
        }
        return;
    }
    mixerSizingRetries_ = 0;
    const int stripWidth = applyMixerStripWidths();
    // The fader takes all the height the strip has: a wider strip or a taller
    // pane gives a longer fader, never only a wider one.
    const int rowHeight = height - mixerRowScrollBarPx(stripWidth);
    const int faderHeight = std::max(rowHeight - mixerStripChromePx(), 10);
    const int capWidth = std::clamp(std::min((16 * stripWidth - 240) / 10, stripWidth - 10), 1, kCapMaximumWidthPx);
    const int capHeight = capHeightPx(faderHeight);
    // No vertical handle margin: the cap stays whole at both ends of the travel.
    const QString faderStyle = faderStyleSheet(0, capWidth, capHeight, 0, (capWidth - 6) / 2);
    for (MixerStrip& strip : mixerStrips_) {
        strip.fader->setMaximumHeight(faderHeight);
        strip.fader->setCapSize(capWidth, capHeight);
        setStyleSheetIfChanged(*strip.fader, faderStyle);
    }
}

void MainWindow::updateMixerWatermark()
{
    if (mixerWatermark_ == nullptr || mixerStripsWidget_ == nullptr)
        return;
    mixerWatermark_->setVisible(!mixerVisible_);
    if (!mixerWatermark_->isVisible())
        return;
    const QSize size = mixerPanel_ != nullptr ? mixerPanel_->size() : this->size();
    QFont font = mixerWatermark_->font();
    font.setWeight(QFont::Bold);
    font.setPixelSize(std::clamp(std::min(size.height() / 2, size.width() / 20), 14, 44));
    mixerWatermark_->setFont(font);
}
