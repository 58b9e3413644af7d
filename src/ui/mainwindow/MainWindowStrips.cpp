// Track rows and mixer strips: building them, showing and hiding them as
// the track count changes (they are never destroyed), what their controls
// do, and the strip clicks the window's event filter turns into actions.

#include "ui/mainwindow/MainWindow.h"

#include "controllers/MidiControllerManager.h"
#include "controllers/SurfaceRegistry.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "core/settings/AudioKeys.h"
#include "core/settings/TrackKeys.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/render/AutomixEngine.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"
#include "ui/common/Theme.h"
#include "ui/mixer/ChannelStripDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTracksPerColumn = 16;
constexpr int kMaxShownTracks = 32;
constexpr int kRowHeight = 26;
constexpr int kAutomixGroups = 4;

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

QString trackButtonStyle(const QColor& colour)
{
    return QString("QPushButton { background-color: %1; border: 1px solid %2; border-radius: 3px; }"
                   "QPushButton:hover { border: 1px solid %3; }")
        .arg(colour.name(), Theme::kBorderControl, Theme::kBorderHoverStrong);
}

QString pflButtonStyle()
{
    return QString("QPushButton {  background-color: %2;  color: %3;  border: 1px solid %4;  "
                   "border-radius: 3px;  font-size: %1px;  font-weight: bold;  padding: 1px 0px;}"
                   "QPushButton:checked {  background-color: %5;  color: %6;  border: 1px solid %5;}"
                   "QPushButton:hover {  border: 1px solid %7;}")
        .arg(9)
        .arg(Theme::kBgControl, Theme::kTextMuted, Theme::kBorderControl, Theme::kArmed, Theme::kTextBright,
             Theme::kBorderHoverStrong);
}

const char* automixColour(int group)
{
    return Theme::kAutomixGroups[group - 1];
}

QString automixTooltip(int group)
{
    switch (group) {
    case 1:
        return "Automix Purple — same color tracks share gain";
    case 2:
        return "Automix Blue — same color tracks share gain";
    case 3:
        return "Automix Green — same color tracks share gain";
    case 4:
        return "Automix Orange — same color tracks share gain";
    default:
        return "Automix off — click to assign Purple group";
    }
}

void removeTrailingSpacer(QVBoxLayout* column)
{
    if (column == nullptr || column->count() == 0)
        return;
    QLayoutItem* last = column->itemAt(column->count() - 1);
    if (last->spacerItem() != nullptr)
        delete column->takeAt(column->count() - 1);
}

} // namespace

QString shortStripName(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.size() <= 8)
        return trimmed;
    const QStringList parts = trimmed.split(' ', Qt::SkipEmptyParts);
    if (parts.size() == 1)
        return trimmed.left(7) + QChar(0x2026);
    QString result = parts.front().left(4);
    for (qsizetype part = 1; part < parts.size() && result.size() < 8; ++part)
        result += ' ' + parts[part].left(1).toUpper();
    return result.left(8).trimmed();
}

QString shortStripName(const QString& name, int number)
{
    return name.trimmed().isEmpty() ? QString::number(number) : shortStripName(name);
}

int MainWindow::readAutomixGroupFromConfig(int track)
{
    const QString text = QString::fromStdString(config()->getString(TrackKeys::automixKey(track), ""));
    if (text.isEmpty() || text == "no" || text == "false")
        return 0;
    if (text == "yes" || text == "true")
        return 1;
    bool number = false;
    const int group = text.toInt(&number);
    return number ? std::clamp(group, 0, kAutomixGroups) : 0;
}

QString MainWindow::automixButtonStyle(int group)
{
    if (group >= 1 && group <= kAutomixGroups)
        return QString("QToolButton { background-color: %1; color: %2; border: 1px solid %1; border-radius: 3px; "
                       "padding: 1px 4px; font-size: 11px; font-weight: bold; }"
                       "QToolButton:hover { background-color: %1; }"
                       "QToolButton:disabled { color: %3; background-color: %4; border-color: %5; }")
            .arg(automixColour(group), Theme::kTextBright, Theme::kTextMuted, Theme::kBgDisabled, Theme::kBorder);
    return QString("QToolButton { background-color: %3; color: %1; border: 1px solid %2; border-radius: 3px; "
                   "padding: 1px 4px; font-size: 11px; }"
                   "QToolButton:hover { background-color: %4; }"
                   "QToolButton:disabled { color: %5; background-color: %6; }")
        .arg(Theme::kTextDim, Theme::kBorder, Theme::kBgField, Theme::kBgControl, Theme::kTextFaint,
             Theme::kBgDisabled);
}

void MainWindow::applyAutomixButtonAppearance(QToolButton* button, int group)
{
    if (button == nullptr)
        return;
    button->setText("AMix");
    button->setToolTip(automixTooltip(group));
    button->setStyleSheet(automixButtonStyle(group));
}

void MainWindow::createTrackWidget(int index, const QString& name)
{
    TrackRow row;
    row.rowWidget = new QWidget(trackListWidget_);
    row.rowWidget->setObjectName("trackRow");
    row.rowWidget->setAttribute(Qt::WA_StyledBackground);
    row.rowWidget->setFixedHeight(kRowHeight);
    row.rowWidget->setStyleSheet(trackRowStyle(false));
    auto* layout = new QHBoxLayout(row.rowWidget);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(5);

    row.nameEdit = new QLineEdit(name, row.rowWidget);
    row.nameEdit->setFixedWidth(100);
    row.nameEdit->setStyleSheet("QLineEdit { font-size: 11px; min-height: 0px; padding: 1px 6px; }");
    row.armButton = new QCheckBox("Arm", row.rowWidget);
    row.armButton->setFixedWidth(55);
    row.automixGroup = readAutomixGroupFromConfig(index);
    row.automixButton = new QToolButton(row.rowWidget);
    row.automixButton->setFixedWidth(55);
    row.automixButton->setAutoRaise(false);
    row.automixButton->setFocusPolicy(Qt::NoFocus);
    applyAutomixButtonAppearance(row.automixButton, row.automixGroup);
    row.automixShareLabel = new QLabel(row.rowWidget);
    row.automixShareLabel->setFixedWidth(35);
    row.automixShareLabel->setStyleSheet(QString("QLabel { color: %1; font-size: 11px; }").arg(Theme::kTextDim));
    row.automixShareLabel->setAlignment(Qt::AlignCenter);
    row.meter = new MeterWidget(row.rowWidget);
    row.meter->setFixedHeight(14);
    row.meter->setArmed(false);

    layout->addWidget(row.nameEdit);
    layout->addWidget(row.armButton);
    layout->addWidget(row.automixButton);
    layout->addWidget(row.automixShareLabel);
    layout->addWidget(row.meter, 1);
    layout->addStretch();

    // Handlers find their row by index: the vector may grow and move.
    connect(row.armButton, &QCheckBox::toggled, this, [this, index](bool armed) { onArmToggled(index, armed); });
    connect(row.automixButton, &QToolButton::clicked, this, [this, index] { onAutomixButtonClicked(index); });
    connect(row.nameEdit, &QLineEdit::editingFinished, this, [this, index] {
        const QString text = trimmedFieldText(trackRows_[static_cast<size_t>(index)].nameEdit);
        config()->setString(TrackKeys::nameKey(index), text.toStdString());
        config()->saveConfig("");
        showStripName(index, text);
        updateMixerFaderSizes(); // the strip names' font fits the new name
    });
    connect(row.nameEdit, &QLineEdit::textChanged, this, [this, index](const QString& text) { showStripName(index, text); });
    watchTypingField(row.nameEdit);

    QVBoxLayout* column = index < kTracksPerColumn ? trackLayoutLeft_ : trackLayoutRight_;
    if (column->count() > 0 && column->itemAt(column->count() - 1)->spacerItem() != nullptr)
        column->insertWidget(column->count() - 1, row.rowWidget);
    else
        column->addWidget(row.rowWidget);
    trackRows_.push_back(row);
}

void MainWindow::createMixerFader(int index, const QString& name)
{
    MixerStrip strip;
    strip.trackIndex = index;
    strip.stripWidget = new QWidget(mixerStripsWidget_->widget());
    strip.stripWidget->setMinimumWidth(40);
    strip.stripWidget->setMaximumWidth(80);
    strip.stripWidget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    strip.stripWidget->setMinimumHeight(0);
    strip.stripWidget->setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(strip.stripWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    const QString trimmed = name.trimmed();
    strip.nameLabel = new QLabel(shortStripName(name, index + 1), strip.stripWidget);
    strip.nameLabel->setAlignment(Qt::AlignCenter);
    strip.nameLabel->setStyleSheet(stripNameStyle(11));
    strip.nameLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    strip.nameLabel->setMinimumHeight(0);
    if (!trimmed.isEmpty())
        strip.nameLabel->setToolTip(trimmed);

    strip.fader = new FaderSlider(Qt::Vertical, strip.stripWidget);
    strip.fader->setRange(FaderSlider::kMinimumTenthsDb, FaderSlider::kMaximumTenthsDb);
    strip.fader->setValue(FaderSlider::kMinimumTenthsDb);
    strip.fader->setAttribute(Qt::WA_TranslucentBackground);
    strip.fader->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    strip.fader->setMinimumHeight(0);
    strip.fader->setMaximumHeight(QWIDGETSIZE_MAX);
    strip.fader->setCapSize(40, 70);
    strip.fader->setStyleSheet(faderStyleSheet(35, 40, 70, 35, 17));

    strip.gainLabel = new QLabel(FaderSlider::gainText(FaderSlider::kMinimumTenthsDb), strip.stripWidget);
    strip.gainLabel->setAlignment(Qt::AlignCenter);
    strip.gainLabel->setStyleSheet(gainLabelStyle(10)); // its cursor is set on the label
    strip.gainLabel->setCursor(Qt::PointingHandCursor);
    strip.gainLabel->setToolTip("Ctrl+Click to reset to 0dB");
    strip.gainLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    strip.gainLabel->setMinimumHeight(0);

    strip.trackButton = new QPushButton(strip.stripWidget);
    strip.trackButton->setMinimumSize(0, 0);
    strip.trackButton->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    strip.trackButton->setCursor(Qt::PointingHandCursor);
    strip.trackButton->setStyleSheet(trackButtonStyle(strip.color));

    strip.pflButton = new QPushButton("PFL", strip.stripWidget);
    strip.pflButton->setCheckable(true);
    strip.pflButton->setMinimumSize(30, 20);
    strip.pflButton->setMaximumSize(60, 20);
    strip.pflButton->setStyleSheet(pflButtonStyle());

    layout->addWidget(strip.nameLabel);
    // Kept small: every pixel of a short mixer pane is fader travel.
    layout->addSpacing(4);
    layout->addWidget(strip.fader, 1, Qt::AlignHCenter);
    layout->addWidget(strip.gainLabel);
    layout->addWidget(strip.trackButton, 0, Qt::AlignHCenter);
    layout->addSpacing(2);
    layout->addWidget(strip.pflButton, 0, Qt::AlignHCenter);

    connect(strip.fader, &QSlider::valueChanged, this, [this, index](int tenthsDb) { onFaderValueChanged(index, tenthsDb); });
    connect(strip.trackButton, &QPushButton::clicked, this, [this, index] { onChannelStripRequested(index); });
    connect(strip.pflButton, &QPushButton::toggled, this, [this, index](bool on) { onPflToggled(index, on); });
    mixerStripsLayout_->addWidget(strip.stripWidget);
    watchMixerStrip(strip);
    mixerStrips_.push_back(strip);
}

void MainWindow::onArmToggled(int track, bool armed)
{
    const TrackRow& row = trackRows_[static_cast<size_t>(track)];
    row.meter->setArmed(armed);
    row.rowWidget->setStyleSheet(trackRowStyle(armed));
    config()->setBool(TrackKeys::armKey(track), armed);
    config()->saveConfig("");
    // A hidden track keeps its box and key but is not recorded unseen.
    if (engine_)
        engine_->setTrackArmed(track, armed && track < shownTrackCount_);
    updateAutomixUiState();
}

void MainWindow::onAutomixButtonClicked(int track)
{
    TrackRow& row = trackRows_[static_cast<size_t>(track)];
    row.automixGroup = (row.automixGroup + 1) % (kAutomixGroups + 1);
    applyAutomixButtonAppearance(row.automixButton, row.automixGroup);
    config()->setInt(TrackKeys::automixKey(track), row.automixGroup);
    config()->saveConfig("");
    updateAutomixUiState();
}

void MainWindow::showStripName(int track, const QString& name)
{
    if (track < 0 || static_cast<size_t>(track) >= mixerStrips_.size())
        return;
    QLabel* label = mixerStrips_[static_cast<size_t>(track)].nameLabel;
    label->setText(shortStripName(name, track + 1));
    label->setToolTip(name.trimmed());
}

int MainWindow::startingFaderTenthsDb(int track) const
{
    int tenthsDb = config()->getInt(TrackKeys::faderKey(track), FaderSlider::kMinimumTenthsDb);
    if (!controllerManager_)
        return tenthsDb;
    // A Cantarem 2 fader's physical position wins over the stored value.
    const std::vector<FaderAssignment> assignments = controllerManager_->getFaderAssignments();
    const auto assigned = std::find_if(assignments.begin(), assignments.end(),
                                       [track](const FaderAssignment& a) { return a.trackIndex == track; });
    if (assigned == assignments.end() || !SurfaceRegistry::faderOwnsLevel(assigned->deviceName))
        return tenthsDb;
    const auto positions = controllerManager_->getCurrentFaderPositions();
    const auto device = positions.find(assigned->deviceName);
    if (device == positions.end() || assigned->faderIndex < 0 ||
        static_cast<size_t>(assigned->faderIndex) >= device->second.size())
        return tenthsDb;
    const int hardware = device->second[static_cast<size_t>(assigned->faderIndex)];
    tenthsDb = FaderSlider::tenthsDbOfHardwarePosition(hardware);
    debugLog("Cantarem fader " + std::to_string(assigned->faderIndex) + " hardware position: " +
             std::to_string(hardware) + " -> track " + std::to_string(track) + " value: " + std::to_string(tenthsDb));
    return tenthsDb;
}

void MainWindow::applyFaderGainAndLabel(int track, int tenthsDb)
{
    if (engine_)
        engine_->setTrackGain(track, FaderSlider::gainLinear(tenthsDb));
    if (static_cast<size_t>(track) < mixerStrips_.size())
        mixerStrips_[static_cast<size_t>(track)].gainLabel->setText(FaderSlider::gainText(tenthsDb));
}

void MainWindow::onFaderValueChanged(int stripIndex, int tenthsDb)
{
    applyFaderGainAndLabel(stripIndex, tenthsDb);
    if (engine_) {
        const float db = static_cast<float>(tenthsDb) / 10.0f;
        const float gain = FaderSlider::gainLinear(tenthsDb);
        const std::string fader = "Fader " + std::to_string(stripIndex);
        if (tenthsDb == 0)
            debugLog(fader + " at 0dB: sliderValue=0 dB=" + fixedText(db, 6) + " gain=" + fixedText(gain, 6));
        if (tenthsDb == FaderSlider::kMaximumTenthsDb) {
            constexpr float kSixDbGain = 1.9952624f;
            debugLog(fader + " at +6dB: sliderValue=60 dB=" + fixedText(db, 6) +
                     " calculatedGain=" + fixedText(gain, 6) + " expectedGain=" + fixedText(kSixDbGain, 6));
            if (std::fabs(gain - kSixDbGain) > 0.1f)
                debugLog("ERROR: Gain mismatch! Expected ~2.0 for +6dB but got " + fixedText(gain, 6));
        }
    }
    if (controllerManager_)
        controllerManager_->sendFaderPosition(stripIndex, FaderSlider::hardwarePosition(tenthsDb));
    // Written now, saved 2 s after the last move: a drag is many changes.
    config()->setInt(TrackKeys::faderKey(stripIndex), tenthsDb);
    scheduleConfigSave();
}

void MainWindow::setStripColour(MixerStrip& strip, const QColor& colour)
{
    strip.color = colour;
    strip.trackButton->setStyleSheet(trackButtonStyle(colour));
}

void MainWindow::onChannelStripRequested(int track)
{
    debugLog("ColorBox clicked for track " + std::to_string(track));
    if (track < 0 || static_cast<size_t>(track) >= mixerStrips_.size()) {
        debugLog("Track ID out of range, returning");
        return;
    }
    const QLabel* label = mixerStrips_[static_cast<size_t>(track)].nameLabel;
    const QString name = label != nullptr ? label->text() : QString("Track %1").arg(track + 1);
    auto* dialog = new ChannelStripDialog(track, name, engine_.get(), stripClipboard_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(false);
    dialog->show();
}

void MainWindow::onPflToggled(int track, bool on)
{
    auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get());
    if (coreAudio == nullptr)
        return;
    if (!on) {
        coreAudio->setPFLTrack(-1);
        return;
    }
    // Only one track is listened to: the others switch off first.
    for (size_t other = 0; other < mixerStrips_.size(); ++other) {
        QPushButton* button = mixerStrips_[other].pflButton;
        if (static_cast<int>(other) != track && button != nullptr && button->isChecked())
            button->setChecked(false);
    }
    coreAudio->setPFLTrack(track);
}

void MainWindow::rebuildTracksAndMixer(int count, const std::vector<std::string>& names)
{
    count = std::clamp(count, 0, kMaxShownTracks);
    debugLog("Rebuilding tracks and mixer for " + std::to_string(count) + " tracks");
    shownTrackCount_ = count;
    trackColumnRight_->setVisible(count > kTracksPerColumn);
    removeTrailingSpacer(trackLayoutLeft_);
    removeTrailingSpacer(trackLayoutRight_);

    while (trackRows_.size() < static_cast<size_t>(count)) {
        const int track = static_cast<int>(trackRows_.size());
        const QString name = static_cast<size_t>(track) < names.size() ? QString::fromStdString(names[track])
                                                                        : QString("Track %1").arg(track + 1);
        createTrackWidget(track, name);
        if (mixerStrips_.size() <= static_cast<size_t>(track))
            createMixerFader(track, name);

        const bool armed = config()->getBool(TrackKeys::armKey(track), false);
        TrackRow& row = trackRows_.back();
        {
            const QSignalBlocker blocker(row.armButton);
            row.armButton->setChecked(armed);
        }
        row.meter->setArmed(armed);
        row.rowWidget->setStyleSheet(trackRowStyle(armed));
        if (engine_)
            engine_->setTrackArmed(track, armed);

        const int tenthsDb = startingFaderTenthsDb(track);
        mixerStrips_[static_cast<size_t>(track)].fader->setValue(tenthsDb);
        applyFaderGainAndLabel(track, tenthsDb);
    }

    trackLayoutLeft_->addStretch();
    if (count > kTracksPerColumn)
        trackLayoutRight_->addStretch();

    // Hidden tracks are disarmed in the engine and armed again from their
    // box when shown: a track nobody sees must not go on being recorded.
    for (size_t track = 0; track < trackRows_.size(); ++track) {
        const bool shown = track < static_cast<size_t>(count);
        trackRows_[track].rowWidget->setVisible(shown);
        if (engine_)
            engine_->setTrackArmed(static_cast<int>(track), shown && trackRows_[track].armButton->isChecked());
    }
    for (size_t track = 0; track < mixerStrips_.size(); ++track)
        mixerStrips_[track].stripWidget->setVisible(track < static_cast<size_t>(count));

    for (size_t track = 0; track < static_cast<size_t>(count) && track < trackRows_.size(); ++track) {
        if (track >= names.size())
            break;
        const QString name = QString::fromStdString(names[track]);
        trackRows_[track].nameEdit->setText(name);
        showStripName(static_cast<int>(track), name);
    }

    applyAutoFitLayout(autoFitLayout_);

    if (config()->getBool(AudioKeys::kBitbucketMode, false)) {
        // Bitbucket mode records no mix: no fader may suggest one.
        for (MixerStrip& strip : mixerStrips_) {
            if (strip.fader == nullptr)
                continue;
            const QSignalBlocker blocker(strip.fader);
            strip.fader->setValue(FaderSlider::kMinimumTenthsDb);
            strip.fader->setEnabled(false);
            strip.gainLabel->setText(FaderSlider::gainText(FaderSlider::kMinimumTenthsDb));
        }
        if (mixMeter_ != nullptr)
            mixMeter_->hide();
        if (mixLabel_ != nullptr)
            mixLabel_->hide();
    }

    updateAutomixUiState();
    QTimer::singleShot(0, this, [this] {
        updateTrackListScaling();
        updateMixerFaderSizes();
    });
    debugLog("Track rebuild complete: " + std::to_string(count) + " tracks visible");
}

void MainWindow::applyAutoFitLayout(bool on)
{
    autoFitLayout_ = on;
    std::vector<MeterWidget*> meters{mixMeter_};
    for (const TrackRow& row : trackRows_)
        meters.push_back(row.meter);
    for (MeterWidget* meter : meters) {
        if (meter == nullptr)
            continue;
        meter->setFixedHeight(14);
        if (on) {
            meter->setMinimumWidth(200);
            meter->setMaximumWidth(QWIDGETSIZE_MAX);
            meter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        } else {
            // 400 pixels where they fit; two columns of 24 tracks in the
            // narrowest window get less rather than running off its edge.
            meter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            meter->setMinimumWidth(100);
            meter->setMaximumWidth(400);
        }
    }
    fitMixerPane();
    updateTrackListScaling();
    updateMixerFaderSizes();
    if (trackListWidget_ != nullptr)
        trackListWidget_->updateGeometry();
    if (mixerStripsWidget_ != nullptr)
        mixerStripsWidget_->updateGeometry();
    update();
}

AutomixEngine* MainWindow::automixEngine() const
{
    auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get());
    return coreAudio != nullptr ? coreAudio->getAutomixEngine() : nullptr;
}

void MainWindow::updateAutomixUiState()
{
    const bool bitbucket = config()->getBool(AudioKeys::kBitbucketMode, false);
    const bool global = config()->getBool(TrackKeys::kAutomixGlobal, TrackKeys::kAutomixGlobalDefault);
    if (automixAction_ != nullptr) {
        const QSignalBlocker blocker(automixAction_);
        automixAction_->setEnabled(!bitbucket);
        automixAction_->setChecked(global);
    }
    const bool effective = global && !bitbucket;
    AutomixEngine* automixer = automixEngine();
    if (automixer != nullptr)
        automixer->setGlobalEnabled(effective);

    for (size_t index = 0; index < trackRows_.size(); ++index) {
        TrackRow& row = trackRows_[index];
        if (row.automixButton == nullptr || row.automixShareLabel == nullptr)
            continue;
        const int track = static_cast<int>(index);
        const bool armed = row.armButton != nullptr && row.armButton->isChecked();
        // The shown count, not the row's visibility: that is false until the
        // window itself is shown.
        const bool shown = track < shownTrackCount_;
        row.automixButton->setVisible(effective && shown);
        row.automixButton->setEnabled(effective && armed);
        row.automixShareLabel->setVisible(effective && armed && shown && row.automixGroup != 0);
        if (automixer != nullptr) {
            // A hidden track is disarmed in the engine, so it shares no gain either.
            const bool inGroup = effective && armed && row.automixGroup != 0 && shown;
            automixer->setTrackGroup(track, inGroup ? row.automixGroup : 0);
        }
    }
}

