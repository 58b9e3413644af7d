// The window's drives: the INT, EXT1 and EXT2 indicators with the recording
// time left on each, the backup-drive alarms, the write-access test of backup
// drives, and the media handlers (media settings, formatting a card as exFAT,
// recovering takes a crash left open). GUI thread only; the volumes come from
// the volume layer, which tests replace with virtual ones.

#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MediaKeys.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/take/TakeFiles.h"
#include "media/RF64Repairer.h"
#include "platform/volumes/BackupDriveAlarm.h"
#include "platform/volumes/DriveAccessTest.h"
#include "platform/volumes/DriveStatus.h"
#include "platform/volumes/ExfatFormatter.h"
#include "platform/volumes/FormatPlacement.h"
#include "platform/volumes/RecordingDrive.h"
#include "platform/volumes/VolumeSystem.h"
#include "ui/common/BackgroundWork.h"
#include "ui/common/Theme.h"
#include "ui/tools/MediaSettingsDialog.h"
#include "ui/tools/RepairDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QHash>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr double kBytesPerGiB = 1073741824.0;
constexpr int kIconSize = 50;
constexpr int kErrorBlinkMs = 500;
constexpr int kCopyBlinkMs = 100;
constexpr int kToastY = 100;
constexpr int kSuccessToastMs = 3000;

// The format toast while a step runs: which one, and that it cannot be stopped.
QString formatStepText(ExfatFormatter::Step step)
{
    const char* const what = step == ExfatFormatter::Step::Unmount ? "Step 1 of 3: unmounting"
                             : step == ExfatFormatter::Step::Erase ? "Step 2 of 3: formatting as exFAT"
                                                                   : "Step 3 of 3: mounting";
    return QString("Formatting volume...\n%1\nThis cannot be cancelled.").arg(what);
}
constexpr int kRefreshAfterFormatMs = 500;

const char* const kGreen = Theme::kGo;
const char* const kRed = Theme::kAlert;
const char* const kGrey = Theme::kTextDim;
const char* const kTimeStyle = "font-size: 10px; color: %1; font-weight: bold; margin: 0px; padding: 0px;";

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

std::shared_ptr<VolumeSystem>& windowVolumes()
{
    static std::shared_ptr<VolumeSystem> system;
    return system;
}

QString gigabytesText(double gb)
{
    return gb < 0 ? QString("N/A") : QString::number(gb, 'f', 1);
}

std::string joined(const std::vector<std::string>& pieces, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < pieces.size(); ++i)
        text += (i > 0 ? separator : "") + pieces[i];
    return text;
}

std::vector<AudioEngineBase::BackupPathInfo> engineDrives(const BackupDriveList& list, int fallbackFormat)
{
    std::vector<AudioEngineBase::BackupPathInfo> drives;
    for (size_t i = 0; i < list.paths.size(); ++i)
        drives.push_back({list.paths[i], i < list.formats.size() ? list.formats[i] : fallbackFormat});
    return drives;
}

// A recording card that is not mounted (or is being formatted) shows as
// missing, not with the system disk's time under its empty mount point.
double recordingDriveFreeSpaceGB(const std::vector<MountedVolume>& volumes, const std::string& path)
{
    return recordingDriveProblem(path, volumes).empty() ? driveFreeSpaceGB(volumes, path) : -1;
}

} // namespace

// What the drive display keeps between refreshes.
struct MainWindow::DriveDisplay {
    BackupDriveAlarm alarms[2] = {BackupDriveAlarm(1), BackupDriveAlarm(2)};
    bool blinkPhase = false;
    // Icons decoded and scaled once; one that failed to load is not kept.
    QHash<QString, QPixmap> icons;
};

MainWindow::DriveDisplay& MainWindow::driveDisplay() const
{
    if (!driveDisplay_)
        driveDisplay_ = std::make_shared<DriveDisplay>();
    return *driveDisplay_;
}

void MainWindow::setVolumeSystemForWindows(std::shared_ptr<VolumeSystem> system)
{
    windowVolumes() = std::move(system);
    installVolumeSystem(windowVolumes().get());
}

QWidget* MainWindow::createDriveIndicator(const QString& type)
{
    auto* indicator = new QWidget(this);
    indicator->setObjectName("driveIndicator" + type);
    indicator->setFixedWidth(60);
    indicator->setStyleSheet("QWidget { background-color: transparent; border: none; }");
    auto* layout = new QVBoxLayout(indicator);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* typeLabel = new QLabel(type, indicator);
    typeLabel->setObjectName("typeLabel");
    typeLabel->setStyleSheet(QString("font-size: 9px; color: %1; font-weight: bold; background-color: transparent; "
                                     "margin: 0px; padding: 0px;")
                                 .arg(Theme::kTextBright));
    typeLabel->setAlignment(Qt::AlignCenter);
    typeLabel->setFixedHeight(12);

    auto* image = new QLabel(indicator);
    image->setObjectName("imageLabel");
    image->setAlignment(Qt::AlignCenter);
    image->setScaledContents(false);
    image->setFixedSize(kIconSize, kIconSize);

    auto* time = new QLabel("--", indicator);
    time->setObjectName("timeLabel");
    time->setStyleSheet(QString(kTimeStyle).arg(kGreen));
    time->setAlignment(Qt::AlignCenter);
    time->setFixedHeight(14);

    // Kept together and centred however tall the control bar is.
    layout->addStretch(1);
    for (QLabel* label : {typeLabel, image, time}) {
        label->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(label, 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);
    // A press on a backup drive's indicator acknowledges its alarm.
    if (type != "INT")
        indicator->installEventFilter(this);
    return indicator;
}

QPixmap MainWindow::driveIcon(const QString& fileName)
{
    DriveDisplay& display = driveDisplay();
    const auto cached = display.icons.constFind(fileName);
    if (cached != display.icons.cend())
        return *cached;
    const QPixmap loaded(findResourcePath(fileName));
    if (loaded.isNull())
        return {};
    const QPixmap scaled = loaded.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    display.icons.insert(fileName, scaled);
    return scaled;
}

int MainWindow::getRecordingChannelCount() const
{
    if (trackRows_.empty())
        return 1;
    int armed = 0;
    for (const TrackRow& row : trackRows_) {
        // A row the recordist cannot see is not recorded as far as the time left goes.
        if (row.armButton != nullptr && row.armButton->isChecked() &&
            (row.rowWidget == nullptr || row.rowWidget->isVisibleTo(this)))
            ++armed;
    }
    return armed + 1;
}

QString MainWindow::formatRecordingTimeRemaining(double availableBytes) const
{
    return qs(::formatRecordingTimeRemaining(availableBytes, getRecordingChannelCount()));
}

double MainWindow::getDriveFreeSpaceGB(const QString& path) const
{
    return driveFreeSpaceGB(volumeSystem().mountedVolumes(), path.toStdString());
}

bool MainWindow::isBackupDriveAlarmRaised(int drive) const
{
    return drive >= 0 && drive < 2 && driveDisplay().alarms[drive].raised();
}

bool MainWindow::isDriveBlinkPhaseOn() const
{
    return driveDisplay().blinkPhase;
}

bool MainWindow::isTakeRecordingOrDraining() const
{
    return isRecording_ || (engine_ && (engine_->isRecording() || engine_->isWriterDraining()));
}

void MainWindow::drawDriveIndicator(QLabel* iconLabel, const QString& path, const std::vector<MountedVolume>& volumes)
{
    if (iconLabel == nullptr)
        return;
    auto* timeLabel = qobject_cast<QLabel*>(iconLabel->property("timeLabel").value<QObject*>());
    const bool external = qobject_cast<QWidget*>(iconLabel->property("parentWidget").value<QObject*>()) != nullptr &&
                          (iconLabel == ext1DriveIcon_ || iconLabel == ext2DriveIcon_);
    const QString prefix = !external ? "int" : (iconLabel == ext1DriveIcon_ ? "ext1" : "ext2");
    const DriveDisplay& display = driveDisplay();
    const bool inAlarm = external && display.alarms[iconLabel == ext1DriveIcon_ ? 0 : 1].raised();

    // A backup drive only counts on a volume of its own: an unplugged card's
    // leftover mount point on the system disk is no drive.
    const double gb = external ? externalDriveFreeSpaceGB(volumes, path.toStdString())
                               : recordingDriveFreeSpaceGB(volumes, path.toStdString());
    QString text = "--";
    QString colour = kGrey;
    QString iconName = prefix + "-grn.png";
    if (inAlarm) {
        iconName = prefix + "-red.png";
        colour = display.blinkPhase ? kRed : kGrey;
    } else if (gb >= 0) {
        // Exact: the byte count divided by a power of two.
        const double bytes = gb * kBytesPerGiB;
        text = formatRecordingTimeRemaining(bytes);
        const bool low = isRecordingTimeLow(bytes, getRecordingChannelCount());
        iconName = prefix + (low ? "-red.png" : "-grn.png");
        colour = low ? kRed : kGreen;
    }

    const QPixmap icon = driveIcon(iconName);
    if (icon.isNull()) {
        iconLabel->setPixmap(QPixmap());
        iconLabel->setText("!");
        iconLabel->setStyleSheet(QString("font-size: 20px; color: %1;").arg(kRed));
    } else {
        iconLabel->clear();
        iconLabel->setStyleSheet(QString());
        if (inAlarm) {
            iconLabel->setPixmap(display.blinkPhase ? icon : QPixmap());
        } else if (external && copyActive_ && !path.isEmpty()) {
            const QPixmap green = driveIcon(prefix + "-grn.png");
            const QPixmap yellow = driveIcon(prefix + "-yel.png");
            iconLabel->setPixmap(copyPhase_ && !yellow.isNull() ? yellow : green);
        } else {
            iconLabel->setPixmap(icon);
        }
    }
    if (timeLabel != nullptr) {
        timeLabel->setText(text);
        timeLabel->setStyleSheet(QString(kTimeStyle).arg(colour));
    }
}

void MainWindow::onDriveErrorBlinkTick()
{
    DriveDisplay& display = driveDisplay();
    if (!display.alarms[0].raised() && !display.alarms[1].raised())
        return;
    display.blinkPhase = !display.blinkPhase;
    updateDriveStatus();
}

void MainWindow::onDriveCopyBlinkTick()
{
    if (engine_ && engine_->isBackupCopyActive()) {
        copyPhase_ = !copyPhase_;
        updateDriveStatus();
        return;
    }
    if (copyBlinkTimer_ != nullptr)
        copyBlinkTimer_->stop();
    copyActive_ = false;
    copyPhase_ = false;
}

void MainWindow::refreshBackupIndicator(int drive, const std::vector<MountedVolume>& volumes, bool takeActive)
{
    QLabel* icon = drive == 0 ? ext1DriveIcon_ : ext2DriveIcon_;
    const std::string path = config()->getString(drive == 0 ? MediaKeys::kExternal1 : MediaKeys::kExternal2, "");
    const double gb = externalDriveFreeSpaceGB(volumes, path);

    BackupDriveAlarm::Poll poll;
    poll.path = path;
    poll.accessible = gb >= 0;
    poll.hasEngine = engine_ != nullptr;
    poll.engineError = engine_ && !path.empty() && engine_->hasBackupDriveError(drive);
    poll.takeActive = takeActive;
    const std::string logLine = driveDisplay().alarms[drive].refresh(poll);
    if (!logLine.empty())
        debugLog(logLine);

    QWidget* container =
        icon != nullptr ? qobject_cast<QWidget*>(icon->property("parentWidget").value<QObject*>()) : nullptr;
    if (path.empty()) {
        // The indicator keeps its place so INT and EXT1 do not move.
        if (container != nullptr) {
            for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                child->hide();
            container->setToolTip(QString());
        }
        return;
    }
    const QString qpath = qs(path);
    drawDriveIndicator(icon, qpath, volumes);
    if (container != nullptr) {
        for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            child->show();
        container->setToolTip(QString("External %1: %2\n%3 GB free\nTime remaining: %4")
                                  .arg(drive + 1)
                                  .arg(qpath, gigabytesText(gb),
                                       gb < 0 ? QString("--") : formatRecordingTimeRemaining(gb * kBytesPerGiB)));
    }
}

void MainWindow::updateDriveStatus()
{
    const std::vector<MountedVolume> volumes = volumeSystem().mountedVolumes();
    const bool takeActive = isTakeRecordingOrDraining();
    if (formatDriveAction_ != nullptr)
        formatDriveAction_->setEnabled(formatEntryEnabled(volumes, takeActive));

    std::string intPath = config()->getString(MediaKeys::kRecordingDirectory, "");
    if (intPath.empty())
        intPath = QDir::currentPath().toStdString();
    const double intGb = recordingDriveFreeSpaceGB(volumes, intPath);
    drawDriveIndicator(intDriveIcon_, qs(intPath), volumes);
    QWidget* intContainer =
        intDriveIcon_ != nullptr ? qobject_cast<QWidget*>(intDriveIcon_->property("parentWidget").value<QObject*>())
                                 : nullptr;
    if (intContainer != nullptr)
        intContainer->setToolTip(
            QString("Internal: %1\n%2 GB free\nTime remaining: %3")
                .arg(qs(intPath), gigabytesText(intGb),
                     intGb < 0 ? QString("--") : formatRecordingTimeRemaining(intGb * kBytesPerGiB)));

    refreshBackupIndicator(0, volumes, takeActive);
    refreshBackupIndicator(1, volumes, takeActive);

    DriveDisplay& display = driveDisplay();
    const bool anyAlarm = display.alarms[0].raised() || display.alarms[1].raised();
    if (errorBlinkTimer_ != nullptr) {
        if (anyAlarm && !errorBlinkTimer_->isActive()) {
            errorBlinkTimer_->start(kErrorBlinkMs);
        } else if (!anyAlarm && errorBlinkTimer_->isActive()) {
            errorBlinkTimer_->stop();
            display.blinkPhase = false;
        }
    }
    if (!anyAlarm)
        display.blinkPhase = false;

    if (engine_ && engine_->isBackupCopyActive()) {
        if (copyBlinkTimer_ != nullptr && !copyBlinkTimer_->isActive())
            copyBlinkTimer_->start(kCopyBlinkMs);
        copyActive_ = true;
    } else {
        if (copyBlinkTimer_ != nullptr && copyBlinkTimer_->isActive())
            copyBlinkTimer_->stop();
        copyActive_ = false;
        copyPhase_ = false;
    }
}

bool MainWindow::handleDriveIndicatorPress(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    const int index = watched->property("driveIndex").toInt();
    if (index != 1 && index != 2)
        return false;
    DriveDisplay& display = driveDisplay();
    if (!display.alarms[index - 1].acknowledge())
        return false;
    if (engine_)
        engine_->clearBackupDriveError(index - 1);
    debugLog("External drive " + std::to_string(index) + " alarm acknowledged");
    if (!display.alarms[0].raised() && !display.alarms[1].raised()) {
        if (errorBlinkTimer_ != nullptr)
            errorBlinkTimer_->stop();
        display.blinkPhase = false;
    }
    updateDriveStatus();
    return true;
}

void MainWindow::requestDriveAccessPermissions(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        if (path.empty())
            continue;
        // Only a mounted drive is tested: creating the folder on an unplugged
        // card's mount point would put its backups on the system disk.
        const DriveAccessResult result = testDriveWriteAccess(path, volumeSystem());
        QString text;
        switch (result.status) {
        case DriveAccessResult::Status::Granted:
            debugLog("Drive access granted: " + path);
            continue;
        case DriveAccessResult::Status::Missing:
            debugLog("WARNING: Drive not mounted: " + path);
            text = qs(driveMissingText(path));
            break;
        case DriveAccessResult::Status::NotWritable:
            debugLog("WARNING: Cannot write to drive (permission denied): " + path);
            text = qs(driveAccessAdvice(path, ""));
            break;
        case DriveAccessResult::Status::Error:
            debugLog("WARNING: Drive access check failed for " + path + ": " + result.reason);
            text = qs(driveAccessAdvice(path, result.reason));
            break;
        }
        QMessageBox::warning(this, "Drive Access Required", text, QMessageBox::Ok);
    }
}

void MainWindow::onMediaSettings()
{
    // A running or finishing take keeps the settings it started with.
    if (isTakeRecordingOrDraining()) {
        showStyledMessageBox(this, "Recording Active",
                             "Media and live-backup settings can be changed after the current take finishes.",
                             QMessageBox::Ok);
        return;
    }
    const std::string saveLocation =
        config()->getString(MediaKeys::kSaveLocation, QDir::homePath().toStdString() + "/Recordings");
    const int fileFormat = storedFileFormat();
    const int bitDepth = config()->getInt(MediaKeys::kBitDepth, MediaKeys::kBitDepthDefault);
    const int preroll = config()->getInt(MediaKeys::kPrerollSeconds, 0);
    const int postroll = config()->getInt(MediaKeys::kPostrollSeconds, 0);
    const bool externalEnabled = config()->getBool(MediaKeys::kExternalEnabled, false);
    const bool liveBackup = config()->getBool(MediaKeys::kLiveBackupActiveTake, false);
    const std::vector<std::string> storedPaths = splitDrivePaths(config()->getString(MediaKeys::kExternalPaths, ""));
    const std::vector<int> storedFormats = splitDriveFormats(config()->getString(MediaKeys::kExternalFormats, ""));
    std::vector<MediaSettingsDialog::ExternalPathInfo> drives;
    for (size_t i = 0; i < storedPaths.size(); ++i)
        drives.push_back({storedPaths[i], i < storedFormats.size() ? storedFormats[i] : 0});

    MediaSettingsDialog dialog(saveLocation, fileFormat, bitDepth, preroll, postroll, externalEnabled, liveBackup,
                               drives, this);
    if (dialog.exec() != QDialog::Accepted)
        return;

    const std::vector<MediaSettingsDialog::ExternalPathInfo> chosen = dialog.getExternalMediaPathsWithFormats();
    std::vector<std::string> paths;
    std::vector<std::string> formats;
    for (const MediaSettingsDialog::ExternalPathInfo& drive : chosen) {
        paths.push_back(drive.path);
        formats.push_back(std::to_string(drive.format));
    }
    const bool enabled = dialog.isExternalMediaEnabled();
    config()->setString(MediaKeys::kSaveLocation, dialog.getSaveLocation());
    config()->setString(MediaKeys::kRecordingDirectory, dialog.getSaveLocation());
    config()->setInt(MediaKeys::kFileFormat, dialog.getFileFormat());
    config()->setInt(MediaKeys::kBitDepth, dialog.getBitDepth());
    config()->setInt(MediaKeys::kPrerollSeconds, dialog.getPrerollSeconds());
    config()->setInt(MediaKeys::kPostrollSeconds, dialog.getPostrollSeconds());
    config()->setBool(MediaKeys::kExternalEnabled, enabled);
    config()->setBool(MediaKeys::kLiveBackupActiveTake, dialog.isLiveBackupActiveTakeEnabled());
    storeBackupDrives(paths, formats);
    config()->saveConfig("");

    if (!engine_)
        return;
    pushMediaSettings();
    if (enabled)
        requestDriveAccessPermissions(paths);
}

void MainWindow::storeBackupDrives(const std::vector<std::string>& paths, const std::vector<std::string>& formats)
{
    config()->setString(MediaKeys::kExternalPaths, joined(paths, "|"));
    config()->setString(MediaKeys::kExternalFormats, joined(formats, ","));
    config()->setString(MediaKeys::kExternal1, paths.size() > 0 ? paths[0] : std::string());
    config()->setString(MediaKeys::kExternal2, paths.size() > 1 ? paths[1] : std::string());
}

QLabel* MainWindow::showDriveToast(const QString& text, const QString& background)
{
    auto* toast = new QLabel(text, this);
    toast->setObjectName("driveToast");
    toast->setStyleSheet(toastStyle(background));
    toast->setAlignment(Qt::AlignCenter);
    toast->adjustSize();
    toast->move((width() - toast->width()) / 2, kToastY);
    toast->show();
    toast->raise();
    return toast;
}

bool MainWindow::isRecordingDriveOn(const std::string& rootPath) const
{
    const std::string folder = baseRecordingFolder();
    return folder == rootPath || (folder.size() > rootPath.size() && folder.compare(0, rootPath.size(), rootPath) == 0 &&
                                  folder[rootPath.size()] == '/');
}

void MainWindow::onFormatExternalDrive()
{
    // A second start while a card is being formatted is ignored: its toast is up.
    if (formatWork_.isRunning())
        return;
    const std::vector<FormatCandidateRow> rows = formatCandidateRows(volumeSystem().mountedVolumes());
    if (rows.empty()) {
        showStyledMessageBox(this, "No External Drives",
                             "No external volumes detected.\n\nInsert an SD card or USB drive and try again.",
                             QMessageBox::Ok);
        return;
    }
    QStringList texts;
    for (const FormatCandidateRow& row : rows)
        texts << qs(row.text);
    bool chosen = false;
    const QString choice = QInputDialog::getItem(this, "Format External Drive", "Select volume to format as exFAT:",
                                                 texts, 0, false, &chosen);
    if (!chosen || choice.isEmpty())
        return;
    const std::string rootPath = rootPathForRowText(rows, choice.toStdString());
    if (rootPath.empty())
        return;
    MountedVolume volume;
    for (const FormatCandidateRow& row : rows) {
        if (row.rootPath == rootPath) {
            volume = row.volume;
            break;
        }
    }

    QMessageBox confirm(this);
    confirm.setIcon(QMessageBox::NoIcon);
    confirm.setWindowTitle("Format Drive");
    // The save location keeps naming the card's old mount point, which the
    // formatted card does not come back to.
    const QString recordingDriveNote =
        isRecordingDriveOn(rootPath)
            ? QString("This is the recording drive: takes cannot be recorded until a drive is chosen again.\n\n")
            : QString();
    confirm.setText(QString("WARNING: All data on %1 will be erased!\n\nVolume will be formatted as exFAT with label: "
                            "Tonvale\n\n%2Are you sure you want to continue?")
                        .arg(qs(rootPath), recordingDriveNote));
    confirm.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    confirm.setDefaultButton(QMessageBox::Cancel);
    if (confirm.exec() != QMessageBox::Ok)
        return;
    // From here until the run has ended no take starts on this volume, and
    // a take started meanwhile leaves it out of its backups.
    const VolumeFormattingMark formatting(rootPath);

    QLabel* toast = showDriveToast("Formatting volume...", Theme::kToastWorking);
    ExfatFormatter formatter;
    // A take may have started while the boxes were open: its backup drive
    // must not be erased under it. Asked here, on the GUI thread that owns
    // the take state; the worker starts the unmount right after.
    const bool takeActive = isTakeRecordingOrDraining();
    formatter.setTakeActiveCheck([takeActive] { return takeActive; });
    // The worker names each step on the toast; the window outlives the run
    // (its destructor waits), so the queued calls have a live receiver.
    QPointer<QLabel> stepLabel(toast);
    formatter.setStepObserver([this, stepLabel](ExfatFormatter::Step step) {
        QMetaObject::invokeMethod(this, [this, stepLabel, step] {
            if (stepLabel) {
                stepLabel->setText(formatStepText(step));
                stepLabel->adjustSize();
                stepLabel->move((width() - stepLabel->width()) / 2, kToastY);
            }
        }, Qt::QueuedConnection);
    });
    startBackgroundWork(formatWork_, [formatter, volume](QPromise<ExfatFormatter::Result>& promise) {
        promise.addResult(formatter.format(volume));
    });
    if (!waitForWork(formatWork_))
        return;  // quitting: the window's destructor waits for the run
    const ExfatFormatter::Result result = formatWork_.result();
    toast->close();
    toast->deleteLater();

    if (!result.ok) {
        debugLog("Format of " + rootPath + " failed: " + result.reason);
        QMessageBox failed(this);
        failed.setIcon(QMessageBox::NoIcon);
        failed.setWindowTitle("Format Failed");
        failed.setText(qs(ExfatFormatter::failureText(rootPath, result.reason)));
        failed.setStandardButtons(QMessageBox::Ok);
        failed.exec();
        return;
    }

    const int fileFormat = storedFileFormat();
    BackupDriveList current;
    current.paths = splitDrivePaths(config()->getString(MediaKeys::kExternalPaths, ""));
    current.formats = splitDriveFormats(config()->getString(MediaKeys::kExternalFormats, ""));
    const BackupDriveList placed = placeFormattedDrive(current, config()->getString(MediaKeys::kExternal1, ""),
                                                       config()->getString(MediaKeys::kExternal2, ""), fileFormat,
                                                       rootPath, result.mountedPath);
    std::vector<std::string> formats;
    for (size_t i = 0; i < placed.paths.size(); ++i)
        formats.push_back(std::to_string(i < placed.formats.size() ? placed.formats[i] : fileFormat));
    config()->setBool(MediaKeys::kExternalEnabled, true);
    storeBackupDrives(placed.paths, formats);
    config()->saveConfig("");
    debugLog("Formatted " + rootPath + " as exFAT, mounted at " + result.mountedPath);

    if (engine_) {
        engine_->setBackupMediaPathsWithFormats(true, engineDrives(placed, fileFormat));
        requestDriveAccessPermissions(placed.paths);
    }

    QLabel* done = showDriveToast("Volume formatted successfully as Tonvale", Theme::kToastSuccess);
    QTimer::singleShot(kSuccessToastMs, done, &QObject::deleteLater);
    QTimer::singleShot(kRefreshAfterFormatMs, this, &MainWindow::updateDriveStatus);
}

void MainWindow::onRecoverRecordings()
{
    debugLog("Manual RF64 recovery scan requested");
    // The take being written has zero ds64 sizes until it closes: it would be
    // listed as crashed, preselected, and could be deleted.
    if (isTakeRecordingOrDraining()) {
        showStyledMessageBox(this, "Recording Active",
                             "Incomplete recordings can be recovered after the current take finishes.",
                             QMessageBox::Ok);
        return;
    }
    const std::string saveLocation = config()->getString(MediaKeys::kSaveLocation, "");
    if (saveLocation.empty()) {
        QMessageBox::information(this, "No Save Location",
                                 "No save location is configured.\n\nPlease set a save location in the Media settings "
                                 "before scanning for incomplete recordings.",
                                 QMessageBox::Ok);
        return;
    }
    if (!QDir(qs(saveLocation)).exists()) {
        QMessageBox::warning(this, "Folder Not Found",
                             "The configured save location does not exist:\n\n" + qs(saveLocation) +
                                 "\n\nPlease check your Media settings.",
                             QMessageBox::Ok);
        return;
    }
    RF64Repairer repairer;
    const std::vector<RF64Repairer::CorruptedFile> found = repairer.scanDirectory(saveLocation, true);
    if (found.empty()) {
        QMessageBox::information(this, "No Issues Found",
                                 "✓ All recordings in the save location are valid.\n\nNo incomplete recordings were "
                                 "found that need repair.",
                                 QMessageBox::Ok);
        debugLog("RF64 scan complete: No corrupted files found");
        return;
    }
    debugLog("Found " + std::to_string(found.size()) + " incomplete recording(s)");
    RepairDialog dialog(found, this);
    dialog.exec();
    queueRepairedTakeBackups(dialog.repairedPaths());
    moveTakePastRecordedTakes();
}

void MainWindow::queueRepairedTakeBackups(const std::vector<std::string>& repairedFiles)
{
    auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get());
    const std::string saveLocation = config()->getString(MediaKeys::kSaveLocation, "");
    if (coreAudio != nullptr && !repairedFiles.empty() && !saveLocation.empty())
        coreAudio->queueRepairedTakeBackups(saveLocation, repairedFiles);
}
