// The window's record road: record and stop, the wait for a draining writer,
// the take clock that watches a running take, and what the window remembers
// when a take ends. The engine records; the window decides and hands over
// the take's metadata.

#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MetadataKeys.h"
#include "engine/AudioEngineBase.h"
#include "engine/take/TakeFiles.h"
#include "platform/volumes/RecordingDrive.h"
#include "ui/common/Theme.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

std::string utf8(const QLineEdit* edit)
{
    // A field still being typed in has not been trimmed by its edit's end yet.
    return edit != nullptr ? edit->text().trimmed().toStdString() : std::string();
}

QString drainStartGroupStyle()
{
    return QString("QGroupBox { background-color: %1; border: 1px solid %2; border-radius: 4px; margin-top: 8px; "
                   "padding-top: 8px; }QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 5px; "
                   "color: %3; }")
        .arg(Theme::kBgDrainedStart, Theme::kBorderDrainedStart, Theme::kTextBright);
}

} // namespace

AudioEngineBase::RecordingMetadata MainWindow::metadataFromFields(bool applyStopDefaults) const
{
    AudioEngineBase::RecordingMetadata metadata;
    metadata.project = utf8(projectEdit_);
    metadata.soundRoll = utf8(soundRollEdit_);
    metadata.scene = utf8(sceneEdit_);
    metadata.take = utf8(takeEdit_);
    metadata.notes = utf8(notesEdit_);
    if (applyStopDefaults) {
        if (metadata.soundRoll.empty())
            metadata.soundRoll = "001";
        if (metadata.take.empty())
            metadata.take = "01";
        if (metadata.project.empty())
            metadata.project = "Project";
    }
    for (size_t track = 0; track < trackRows_.size() && static_cast<int>(track) < shownTrackCount_; ++track)
        metadata.trackNames.push_back(utf8(trackRows_[track].nameEdit));
    return metadata;
}

void MainWindow::onRecordClicked()
{
    debugLog("onRecordClicked called");
    // A loaded snapshot is restarting the program: a take now would be cut
    // off by the quit, and its end could no longer be stored.
    if (ConfigManager::getInstance()->isSealedForRestart()) {
        debugLog("onRecordClicked: restarting to apply a configuration; no take started");
        return;
    }
    if (!engine_ || !engine_->isInitialized()) {
        debugLog("onRecordClicked: audio engine not ready");
        showStyledMessageBox(this, "Error", "Audio engine not initialized", QMessageBox::Ok);
        return;
    }
    const std::string device = engine_->getCurrentDeviceName();
    const bool running = engine_->isRunning();
    if (device.empty() || !running) {
        debugLog("onRecordClicked: no audio device active (device='" + device + "', running=" +
                 (running ? "yes" : "no") + ")");
        showStyledMessageBox(this, "No Audio Device",
                             "Cannot record: no audio input device is active.\n\nSelect a device from Audio > Select "
                             "Audio Device...\n\n(The previously saved device may be disconnected.)",
                             QMessageBox::Ok);
        return;
    }
    // A card pulled, unmounted or being formatted leaves a plain folder on
    // the system disk: the take would silently land there.
    const std::string driveProblem = recordingDriveProblem(baseRecordingFolder(), volumeSystem());
    if (!driveProblem.empty()) {
        updateDriveStatus();
        reportRefusedTakeStart(QString::fromStdString(driveProblem));
        return;
    }
    engine_->setRecordingMetadata(metadataFromFields(false));
    engine_->triggerRecordBeep(true);
    if (engine_->isWriterDraining()) {
        // The previous take is still in its post-roll: it ends now, and the
        // new one starts as soon as its files are closed.
        engine_->cancelPendingPostroll();
        if (writerDrainPoll_ == nullptr) {
            writerDrainPoll_ = new QTimer(this);
            connect(writerDrainPoll_, &QTimer::timeout, this, &MainWindow::onWriterDrainTick);
        }
        writerDrainPoll_->start(50);
        return;
    }
    if (engine_->startRecording())
        runTakeStartSteps(false);
    else
        reportRefusedTakeStart(QString::fromStdString(engine_->getTakeStartRefusal()));
}

void MainWindow::onWriterDrainTick()
{
    if (engine_ && engine_->isWriterDraining())
        return;
    writerDrainPoll_->stop();
    if (!engine_)
        return;
    if (engine_->startRecording())
        runTakeStartSteps(true);
    else
        reportRefusedTakeStart(QString::fromStdString(engine_->getTakeStartRefusal()));
}

// A press of record that records nothing must say so: the recordist is
// otherwise left believing the take runs.
void MainWindow::reportRefusedTakeStart(const QString& reason)
{
    debugLog("onRecordClicked: take not started: " + reason.toStdString());
    showStyledMessageBox(this, "Recording Not Started",
                         "The take was not started:\n\n" + reason +
                             "\n\nCheck the project, roll, scene and take fields and the recording drive.",
                         QMessageBox::Ok);
}

void MainWindow::runTakeStartSteps(bool afterDrain)
{
    isRecording_ = true;
    // A second press may have found the writer idle and started the take
    // itself: the poll must not try again.
    if (writerDrainPoll_ != nullptr)
        writerDrainPoll_->stop();
    updateRecordStopButtonImage();
    if (afterDrain) {
        if (copyBlinkTimer_ != nullptr && copyBlinkTimer_->isActive())
            copyBlinkTimer_->stop();
        copyActive_ = false;
        copyPhase_ = false;
    }
    QTimer::singleShot(0, this, &MainWindow::updateDriveStatus);
    if (afterDrain) {
        if (metadataGroup_ != nullptr) {
            metadataGroup_->setProperty("recording", true);
            metadataGroup_->setStyleSheet(drainStartGroupStyle());
        }
    } else {
        updateMetadataGroupStyle(true);
    }
    takeElapsed_.restart();
    // Errors are counted per take: what earlier takes, or the device between
    // takes, ran up is not this take's.
    takeErrorBaseline_ = rawTakeErrorCounts();
    takeErrorsSettled_ = false;
    lastSeenWriteErrors_ = 0;
    lastSeenDroppedSamples_ = 0;
    if (takeClock_ == nullptr) {
        takeClock_ = new QTimer(this);
        connect(takeClock_, &QTimer::timeout, this, &MainWindow::onTakeClockTick);
    }
    takeClock_->start(1000);
}

void MainWindow::onTakeClockTick()
{
    if (!engine_)
        return;
    if (isRecording_ && !engine_->isRunning()) {
        onStopClicked();
        // A second tick while the box is open finds the flag clear, so no
        // second box; the guard keeps it so should a take restart meanwhile.
        if (!disconnectBoxOpen_) {
            disconnectBoxOpen_ = true;
            showStyledMessageBox(this, "Audio Device Disconnected",
                                 "Recording stopped because the selected audio device became unavailable.\n\n"
                                 "Reconnect it and select it again before recording.",
                                 QMessageBox::Ok);
            disconnectBoxOpen_ = false;
        }
        return;
    }
    if (!recordingErrorBoxOpen_)
        reportRecordingErrors();
    // The clock outlives the stop while the take is closed, so an error of
    // its post-roll or close is still reported; then its counts are settled.
    if (takeErrorsSettled_ && !isRecording_ && takeClock_ != nullptr)
        takeClock_->stop();

    const bool copying = engine_->isBackupCopyActive();
    if (copying || copyActive_) {
        copyActive_ = copying;
        copyPhase_ = copying ? !copyPhase_ : false;
        updateDriveStatus();
    }
}

// Stores the counts before the box shows, so the clock's ticks meanwhile do
// not open another; a growth while the box was open is reported when it
// closes, in a box of its own.
void MainWindow::reportRecordingErrors()
{
    recordingErrorBoxOpen_ = true;
    for (;;) {
        const auto [writeErrors, dropped] = takeErrorCounts();
        const bool writeGrew = writeErrors > lastSeenWriteErrors_;
        const bool droppedGrew = dropped > lastSeenDroppedSamples_;
        if (!writeGrew && !droppedGrew)
            break;
        QString text = "RECORDING ERROR DETECTED!\n\n";
        if (writeGrew)
            text += QString("Write Errors: %1 (disk write failing)\n").arg(writeErrors);
        if (droppedGrew)
            text += QString("Dropped Samples: %1 (buffer overflow)\n").arg(dropped);
        text += "\nRecording may be corrupted or incomplete!\nStop recording and check drives.";
        lastSeenWriteErrors_ = std::max(lastSeenWriteErrors_, writeErrors);
        lastSeenDroppedSamples_ = std::max(lastSeenDroppedSamples_, dropped);
        QMessageBox::critical(this, "Recording Error", text, QMessageBox::Ok);
    }
    recordingErrorBoxOpen_ = false;
}

std::pair<int64_t, int64_t> MainWindow::rawTakeErrorCounts() const
{
    if (takeErrorCountsSource_)
        return takeErrorCountsSource_();
    if (engine_)
        return {engine_->getWriteErrors(), engine_->getDroppedSamples()};
    return {0, 0};
}

// The counts of the running or last take. The engine's counts only grow and
// include the audio server's dropouts between takes; once the last take is
// closed (or its device lost) its counts stay as they were then.
std::pair<uint64_t, uint64_t> MainWindow::takeErrorCounts()
{
    if (takeErrorsSettled_)
        return settledTakeErrors_;
    const std::pair<int64_t, int64_t> raw = rawTakeErrorCounts();
    const auto sinceStart = [](int64_t now, int64_t atStart) {
        return now > atStart ? static_cast<uint64_t>(now - atStart) : uint64_t{0};
    };
    std::pair<uint64_t, uint64_t> counts{sinceStart(raw.first, takeErrorBaseline_.first),
                                         sinceStart(raw.second, takeErrorBaseline_.second)};
    // A lost device ends the take with a box of its own; the engine counts
    // the loss among its write errors, but no drive failed.
    const bool deviceLost = engine_ && !engine_->isRunning();
    if (deviceLost)
        counts.first = std::min(counts.first, lastSeenWriteErrors_);
    if (deviceLost || !isTakeRecordingOrDraining()) {
        takeErrorsSettled_ = true;
        settledTakeErrors_ = counts;
    }
    return counts;
}

void MainWindow::onStopClicked()
{
    if (!engine_)
        return;
    const AudioEngineBase::RecordingMetadata metadata = metadataFromFields(true);
    engine_->setRecordingMetadata(metadata);

    ConfigManager* config = ConfigManager::getInstance();
    config->setString(MetadataKeys::kProject, metadata.project);
    config->setString(MetadataKeys::kSoundRoll, metadata.soundRoll);
    config->setString(MetadataKeys::kScene, metadata.scene);
    config->setString(MetadataKeys::kTake, metadata.take);
    config->saveConfig("");

    if (!engine_->stopRecording())
        return;
    if (!engine_->isRunning())
        engine_->cancelPendingPostroll();

    isRecording_ = false;
    updateRecordStopButtonImage();
    engine_->triggerRecordBeep(false);
    updateMetadataGroupStyle(false);
    // The take clock stops itself once the take is closed and its last
    // errors are reported.
    QTimer::singleShot(500, this, &MainWindow::updateDriveStatus);

    QString last = QString("Last: %1").arg(QString::fromStdString(metadata.soundRoll));
    if (!metadata.scene.empty())
        last += QString(" / %1").arg(QString::fromStdString(metadata.scene));
    last += QString(" / T%1").arg(QString::fromStdString(metadata.take));
    if (lastRecordingButton_ != nullptr) {
        lastRecordingButton_->setText(last);
        lastRecordingButton_->setToolTip(last);
    }

    const std::string previousRoll = config->getString(MetadataKeys::kLastSoundRoll, "");
    if (!previousRoll.empty()) {
        config->setString(MetadataKeys::kPreviousSoundRoll, previousRoll);
        config->setString(MetadataKeys::kPreviousScene, config->getString(MetadataKeys::kLastScene, ""));
        config->setString(MetadataKeys::kPreviousTake, config->getString(MetadataKeys::kLastTake, ""));
        config->setString(MetadataKeys::kPreviousFolderPath, config->getString(MetadataKeys::kLastFolderPath, ""));
    }
    config->setString(MetadataKeys::kLastSoundRoll, metadata.soundRoll);
    config->setString(MetadataKeys::kLastScene, metadata.scene);
    config->setString(MetadataKeys::kLastTake, metadata.take);
    // The folder the engine wrote the take to: the same base folder (and the
    // same default when none is set) and the same sanitised project and roll.
    config->setString(MetadataKeys::kLastFolderPath,
                      takeFolderPath(baseRecordingFolder(), metadata.project, metadata.soundRoll));
    config->saveConfig("");

    bool isNumber = false;
    const int take = QString::fromStdString(metadata.take).toInt(&isNumber, 10);
    if (isNumber && take >= 1 && take <= 98) {
        const QString next = QString("%1").arg(take + 1, 2, 10, QChar('0'));
        if (takeEdit_ != nullptr)
            takeEdit_->setText(next);
        config->setString(MetadataKeys::kTake, next.toStdString());
        config->saveConfig("");
    }
    if (notesEdit_ != nullptr && (persistNotesCheck_ == nullptr || !persistNotesCheck_->isChecked()))
        notesEdit_->clear();
}

QString MainWindow::lastRecordingText() const
{
    return lastRecordingButton_ != nullptr ? lastRecordingButton_->text() : QString();
}

void MainWindow::updateRecordStopButtonImage()
{
    QString path = findResourcePath(isRecording_ ? "BUTTONS ON.png" : "BUTTONS OFF.png");
    path.replace('\\', '/');
    const QPixmap image(path);
    if (!image.isNull() && recordStopButton_ != nullptr)
        recordStopButton_->setPixmap(image.scaledToHeight(60, Qt::SmoothTransformation));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (handleMetadataFieldPress(watched, event))
        return true;
    if (handleDriveIndicatorPress(watched, event))
        return true;
    if (watched == recordStopButton_ && recordStopButton_ != nullptr) {
        if (recordStopEventCount_++ % 100 == 0)
            debugLog("eventFilter: recordStopButton event type=" + std::to_string(static_cast<int>(event->type())));
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)
            debugLog("eventFilter: MOUSE EVENT on recordStopButton type=" +
                     std::to_string(static_cast<int>(event->type())));
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* press = static_cast<QMouseEvent*>(event);
            const int x = static_cast<int>(std::lround(press->position().x()));
            const int width = recordStopButton_->width();
            debugLog("Record/Stop button clicked at x=" + std::to_string(x) + " width=" + std::to_string(width) +
                     " isRecording=" + (isRecording_ ? "true" : "false"));
            if (x < width / 2) {
                debugLog("Left half clicked (Record)");
                if (isRecording_)
                    debugLog("Already recording, ignoring");
                else
                    onRecordClicked();
            } else {
                debugLog("Right half clicked (Stop)");
                if (isRecording_)
                    onStopClicked();
                else
                    debugLog("Not recording, ignoring");
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
