#include "ui/tools/PlaybackDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/MetadataKeys.h"
#include "engine/AudioEngineBase.h"
#include "engine/take/TakeFiles.h"
#include "engine/take/TakeSettings.h"
#include "media/BwfMetadataReader.h"
#include "ui/tools/PlaybackRoutingDialog.h"
#include "ui/tools/WaveformWidget.h"
#include "ui/common/MessageBoxes.h"
#include "ui/common/Theme.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace {

// %1 dialog, %2 borders, %3 file list, %4 selection and slider, %5 buttons,
// %6 button hover, %7 button pressed, %8 disabled button, %9 disabled text,
// %10 labels, %11 slider groove, %12 row hover.
QString dialogStyle()
{
    using namespace Theme;
    return QString(R"(
QDialog { background-color: %1; color: white; }
QGroupBox { font-weight: bold; border: 1px solid %2; border-radius: 4px; margin-top: 10px; padding-top: 10px; color: white; }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; }
QListWidget { background-color: %3; color: white; border: 1px solid %2; }
QListWidget::item { padding: 5px; }
QListWidget::item:selected { background-color: %4; }
QListWidget::item:hover { background-color: %12; }
QPushButton { background-color: %5; color: white; border: 1px solid %2; border-radius: 3px; padding: 6px 12px; min-width: 80px; }
QPushButton:hover { background-color: %6; }
QPushButton:pressed { background-color: %7; }
QPushButton:disabled { background-color: %8; color: %9; }
QLabel { color: %10; }
QSlider::groove:horizontal { height: 8px; background: %11; border-radius: 4px; }
QSlider::handle:horizontal { background: %4; width: 16px; height: 16px; margin: -4px 0; border-radius: 8px; }
QSlider::sub-page:horizontal { background: %4; border-radius: 4px; }
)")
        .arg(kBgDialog, kBorderControl, kDialogWell, kDialogAccent, kDialogButton, kDialogButtonHover,
             kDialogButtonPressed, kDialogButtonDisabled, kTextFaint, kTextLabel, kDialogWell, kDialogRowHover);
}

// The play button, green to start and red while it stops playback.
QString playButtonStyle(bool stopping)
{
    return QString("QPushButton { background-color: %1; } QPushButton:hover { background-color: %2; }")
        .arg(stopping ? Theme::kStop : Theme::kPlay, stopping ? Theme::kStopHover : Theme::kPlayHover);
}

const char* const kSelectPrompt = "Select a file to view info";
const QStringList kWavPatterns{"*.wav", "*.WAV"};

QString configString(const char* key, const std::string& fallback, bool fallbackWhenEmpty)
{
    std::string value = ConfigManager::getInstance()->getString(key, fallback);
    if (fallbackWhenEmpty && value.empty())
        value = fallback;
    return QString::fromStdString(value);
}

// Files only, oldest first; a case-insensitive file system matches a name
// once even though both patterns match it.
QFileInfoList wavFilesOf(const QDir& folder)
{
    QFileInfoList files = folder.entryInfoList(kWavPatterns, QDir::Files, QDir::Time | QDir::Reversed);
    QFileInfoList unique;
    for (const QFileInfo& file : files)
        if (std::none_of(unique.begin(), unique.end(),
                         [&](const QFileInfo& seen) { return seen.absoluteFilePath() == file.absoluteFilePath(); }))
            unique.append(file);
    return unique;
}

}  // namespace

PlaybackDialog::PlaybackDialog(AudioEngineBase* engine, QWidget* parent) : QDialog(parent), engine_(engine)
{
    setWindowTitle("Audio Playback");
    setMinimumSize(650, 500);
    setupUI();
    applyOutputRouting();
    populateFileList();
    positionTimer_ = new QTimer(this);
    connect(positionTimer_, &QTimer::timeout, this, &PlaybackDialog::updatePlaybackPosition);
}

PlaybackDialog::~PlaybackDialog()
{
    // A file that played to its end is still open in the engine until stopped.
    if (engine_ != nullptr && (playing_ || engine_->isPlayingBack()))
        engine_->stopPlayback();
}

void PlaybackDialog::setupUI()
{
    setStyleSheet(dialogStyle());
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto* top = new QHBoxLayout;
    auto* filesGroup = new QGroupBox("Recording Files");
    auto* filesLayout = new QVBoxLayout(filesGroup);
    fileList_ = new QListWidget;
    fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
    filesLayout->addWidget(fileList_);
    auto* refresh = new QPushButton("Refresh");
    filesLayout->addWidget(refresh);
    top->addWidget(filesGroup, 2);

    auto* infoColumn = new QVBoxLayout;
    auto* infoGroup = new QGroupBox("File Information");
    auto* infoLayout = new QVBoxLayout(infoGroup);
    infoLabel_ = new QLabel(kSelectPrompt);
    infoLabel_->setWordWrap(true);
    infoLabel_->setMinimumHeight(100);
    infoLabel_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    infoLabel_->setTextFormat(Qt::RichText);
    infoLayout->addWidget(infoLabel_);
    infoColumn->addWidget(infoGroup);
    infoColumn->addStretch();
    top->addLayout(infoColumn, 1);
    layout->addLayout(top, 1);

    auto* transport = new QGroupBox("Transport");
    auto* transportLayout = new QVBoxLayout(transport);
    waveform_ = new WaveformWidget;
    transportLayout->addWidget(waveform_);
    positionSlider_ = new QSlider(Qt::Horizontal);
    positionSlider_->setRange(0, kSliderSteps);
    positionSlider_->setValue(0);
    positionSlider_->setEnabled(false);
    transportLayout->addWidget(positionSlider_);
    timeLabel_ = new QLabel("00:00:00 / 00:00:00");
    timeLabel_->setAlignment(Qt::AlignCenter);
    timeLabel_->setStyleSheet("font-family: 'Consolas', monospace; font-size: 14px;");
    transportLayout->addWidget(timeLabel_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    playButton_ = new QPushButton("Play");
    playButton_->setStyleSheet(playButtonStyle(false));
    playButton_->setEnabled(false);
    buttons->addWidget(playButton_);
    pauseButton_ = new QPushButton("Pause");
    pauseButton_->setEnabled(false);
    buttons->addWidget(pauseButton_);
    buttons->addStretch();
    transportLayout->addLayout(buttons);
    layout->addWidget(transport);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    auto* close = new QPushButton("Close");
    bottom->addWidget(close);
    layout->addLayout(bottom);

    connect(fileList_, &QListWidget::itemSelectionChanged, this, &PlaybackDialog::onFileSelected);
    connect(fileList_, &QListWidget::itemDoubleClicked, this, &PlaybackDialog::onPlayStopClicked);
    connect(refresh, &QPushButton::clicked, this, &PlaybackDialog::onRefreshFiles);
    connect(waveform_, &WaveformWidget::seekRequested, this, &PlaybackDialog::onWaveformSeek);
    connect(positionSlider_, &QSlider::sliderPressed, this, [this] { sliderHeld_ = true; });
    connect(positionSlider_, &QSlider::sliderReleased, this, [this] {
        sliderHeld_ = false;
        onPositionSliderMoved(positionSlider_->value());
    });
    connect(playButton_, &QPushButton::clicked, this, &PlaybackDialog::onPlayStopClicked);
    connect(pauseButton_, &QPushButton::clicked, this, &PlaybackDialog::onPauseClicked);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

// The folder the recorder files takes in: the same base (a default one when
// no save location is set) and the same sanitised project and roll levels.
QString PlaybackDialog::getCurrentRecordingFolder() const
{
    const QString project = configString(MetadataKeys::kProject, kDefaultProject, true);
    const QString roll = configString(MetadataKeys::kSoundRoll, kDefaultSoundRoll, true);
    return QString::fromStdString(takeFolderPath(baseRecordingFolder(), project.toStdString(), roll.toStdString()));
}

void PlaybackDialog::populateFileList()
{
    fileList_->clear();
    const QDir folder(getCurrentRecordingFolder());
    if (!folder.exists()) {
        fileList_->addItem("(No recordings folder found)");
        return;
    }
    const QFileInfoList files = wavFilesOf(folder);
    if (files.isEmpty()) {
        fileList_->addItem("(No WAV files in folder)");
        return;
    }
    for (const QFileInfo& file : files) {
        auto* item = new QListWidgetItem(file.fileName());
        item->setData(Qt::UserRole, file.absoluteFilePath());
        fileList_->addItem(item);
    }
}

void PlaybackDialog::onRefreshFiles()
{
    populateFileList();
}

void PlaybackDialog::selectFile(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists() || !file.isFile())
        return;
    fileList_->clear();
    for (const QFileInfo& entry : wavFilesOf(file.absoluteDir())) {
        auto* item = new QListWidgetItem(entry.fileName());
        item->setData(Qt::UserRole, entry.absoluteFilePath());
        fileList_->addItem(item);
    }
    for (int row = 0; row < fileList_->count(); ++row) {
        if (fileList_->item(row)->data(Qt::UserRole).toString() == path) {
            fileList_->setCurrentRow(row);
            return;
        }
    }
    loadFileInfo(path);
    currentFile_ = path;
    playButton_->setEnabled(true);
    positionSlider_->setEnabled(true);
}

void PlaybackDialog::onFileSelected()
{
    const QList<QListWidgetItem*> selected = fileList_->selectedItems();
    if (selected.isEmpty()) {
        infoLabel_->setText(kSelectPrompt);
        playButton_->setEnabled(false);
        return;
    }
    const QString path = selected.first()->data(Qt::UserRole).toString();
    if (path.isEmpty())
        return;
    loadFileInfo(path);
    currentFile_ = path;
    playButton_->setEnabled(true);
    positionSlider_->setEnabled(true);
}

void PlaybackDialog::loadFileInfo(const QString& path)
{
    try {
        const BwfMetadata info = BwfMetadataReader::readMetadata(path.toStdString());
        channelCount_ = info.channels;
        durationSeconds_ = info.durationSeconds;

        QString text = QString("<b>%1</b><br>").arg(QFileInfo(path).fileName().toHtmlEscaped());
        text += QString("Sample Rate: %1 Hz<br>").arg(info.sampleRate);
        text += QString("Channels: %1").arg(info.channels);
        if (info.channels > kRoutedChannels)
            text += QString(" <i>(only first %1 routed)</i>").arg(kRoutedChannels);
        text += QString("<br>Bit Depth: %1-bit<br>").arg(info.bitsPerSample);
        text += QString("Duration: %1").arg(formatDuration(info.durationSeconds));
        if (!info.scene.empty() || !info.take.empty()) {
            text += "<br>";
            if (!info.scene.empty())
                text += QString("<br>Scene: %1").arg(QString::fromStdString(info.scene).toHtmlEscaped());
            if (!info.take.empty())
                text += QString("<br>Take: %1").arg(QString::fromStdString(info.take).toHtmlEscaped());
        }
        infoLabel_->setText(text);
        timeLabel_->setText(QString("00:00:00 / %1").arg(formatDuration(durationSeconds_)));
        positionSlider_->setValue(0);
        currentPositionSeconds_ = 0.0;
        waveform_->loadFile(path.toStdString());
        waveform_->setPlaybackPosition(0.0);
    } catch (const std::exception& error) {
        infoLabel_->setText(QString("Error reading file: %1").arg(QString::fromLocal8Bit(error.what()).toHtmlEscaped()));
        channelCount_ = 0;
        durationSeconds_ = 0.0;
        waveform_->clear();
    }
}

void PlaybackDialog::applyOutputRouting()
{
    if (engine_ == nullptr)
        return;
    ConfigManager* config = ConfigManager::getInstance();
    for (int c = 0; c < PlaybackRoutingDialog::kPlaybackChannels; ++c) {
        const std::string choice = config->getString(PlaybackRoutingDialog::configKey(c), "");
        engine_->setPlaybackOutputPort(c, PlaybackRoutingDialog::outputCodeForChoice(choice));
    }
}

bool PlaybackDialog::anyChannelRouted() const
{
    ConfigManager* config = ConfigManager::getInstance();
    const int channels = std::min(channelCount_, kRoutedChannels);
    for (int c = 0; c < channels; ++c) {
        const std::string choice = config->getString(PlaybackRoutingDialog::configKey(c), "");
        if (!choice.empty() && choice != PlaybackRoutingDialog::kNotRouted)
            return true;
    }
    return false;
}

void PlaybackDialog::onPlayStopClicked()
{
    if (playing_) {
        if (engine_ != nullptr)
            stopPlaying();
        return;
    }
    if (currentFile_.isEmpty() || engine_ == nullptr)
        return;
    if (!anyChannelRouted()) {
        showMessage("No Output Routed", "Please configure playback routing in Routing > Playback Routing before playing.");
        return;
    }
    applyOutputRouting();
    if (!engine_->startPlayback(currentFile_.toStdString())) {
        showMessage("Playback Error", "Failed to start playback. The file may be invalid or in use.");
        return;
    }
    playing_ = true;
    paused_ = false;
    setPlayButtonStopping(true);
    pauseButton_->setEnabled(true);
    positionTimer_->start(kTickMs);
    startPositionSeconds_ = currentPositionSeconds_;
    if (startPositionSeconds_ > 0.0)
        engine_->seekPlayback(startPositionSeconds_);
}

void PlaybackDialog::stopPlaying()
{
    engine_->stopPlayback();
    playing_ = false;
    paused_ = false;
    setPlayButtonStopping(false);
    pauseButton_->setEnabled(false);
    pauseButton_->setText("Pause");
    positionTimer_->stop();
    currentPositionSeconds_ = startPositionSeconds_;
    if (durationSeconds_ > 0.0) {
        const double fraction = startPositionSeconds_ / durationSeconds_;
        positionSlider_->setValue(static_cast<int>(fraction * kSliderSteps));
        waveform_->setPlaybackPosition(fraction);
        showTime(startPositionSeconds_);
    }
}

void PlaybackDialog::onPauseClicked()
{
    if (engine_ == nullptr || !playing_)
        return;
    if (paused_) {
        engine_->resumePlayback();
        paused_ = false;
        pauseButton_->setText("Pause");
    } else {
        engine_->pausePlayback();
        paused_ = true;
        pauseButton_->setText("Resume");
    }
}

void PlaybackDialog::updatePlaybackPosition()
{
    if (engine_ == nullptr || !playing_ || sliderHeld_)
        return;
    const double position = engine_->getPlaybackPosition();
    const double duration = engine_->getPlaybackDuration();
    if (duration > 0.0) {
        positionSlider_->setValue(static_cast<int>(position / duration * kSliderSteps));
        waveform_->setPlaybackPosition(position / duration);
        currentPositionSeconds_ = position;
    }
    timeLabel_->setText(QString("%1 / %2").arg(formatDuration(position), formatDuration(duration)));
    // The engine ends playback after the last frame; the position check also
    // covers the timer tick that sees the last frame before the engine does.
    const bool ended = duration > 0.0 && position >= duration;
    if (!engine_->isPlayingBack() || ended)
        stopPlaying();
}

void PlaybackDialog::onPositionSliderMoved(int value)
{
    if (durationSeconds_ <= 0.0)
        return;
    seekTo(static_cast<double>(value) / kSliderSteps);
}

void PlaybackDialog::onWaveformSeek(double position)
{
    if (durationSeconds_ <= 0.0 || currentFile_.isEmpty())
        return;
    positionSlider_->setValue(static_cast<int>(position * kSliderSteps));
    seekTo(position);
}

void PlaybackDialog::seekTo(double fraction)
{
    waveform_->setPlaybackPosition(fraction);
    const double seconds = fraction * durationSeconds_;
    showTime(seconds);
    currentPositionSeconds_ = seconds;
    startPositionSeconds_ = seconds;
    if (playing_ && engine_ != nullptr)
        engine_->seekPlayback(seconds);
}

void PlaybackDialog::showTime(double positionSeconds)
{
    timeLabel_->setText(QString("%1 / %2").arg(formatDuration(positionSeconds), formatDuration(durationSeconds_)));
}

void PlaybackDialog::setPlayButtonStopping(bool stopping)
{
    playButton_->setText(stopping ? "Stop" : "Play");
    playButton_->setStyleSheet(playButtonStyle(stopping));
}

void PlaybackDialog::showMessage(const QString& title, const QString& text)
{
    showPlainMessageBox(this, title, text);
}

QString PlaybackDialog::formatDuration(double seconds)
{
    const long long whole = static_cast<long long>(seconds);
    return QString("%1:%2:%3")
        .arg(whole / 3600, 2, 10, QChar('0'))
        .arg(whole / 60 % 60, 2, 10, QChar('0'))
        .arg(whole % 60, 2, 10, QChar('0'));
}
