// The last-take button: a click opens playback on the last take's newest
// file.

#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "engine/take/TakeFiles.h"
#include "ui/tools/PlaybackDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>

QString MainWindow::lastTakeFolder()
{
    ConfigManager* config = ConfigManager::getInstance();
    const std::string stored = config->getString("lastRecording.folderPath", "");
    if (!stored.empty())
        return QString::fromStdString(stored);
    std::string project = config->getString("metadata.project", "Project");
    if (project.empty())
        project = "Project";
    // The engine's own base folder and sanitising, so the path names the
    // folder that holds the take.
    return QString::fromStdString(
        takeFolderPath(baseRecordingFolder(), project, config->getString("lastRecording.soundRoll", "")));
}

void MainWindow::onLastRecordingClicked()
{
    debugLog("onLastRecordingClicked called");
    if (lastRecordingButton_ == nullptr || lastRecordingButton_->text().isEmpty()) {
        debugLog("No last recording label text - returning");
        return;
    }
    ConfigManager* config = ConfigManager::getInstance();
    const std::string roll = config->getString("lastRecording.soundRoll", "");
    debugLog("lastSoundRoll: " + roll + ", lastScene: " + config->getString("lastRecording.scene", "") +
             ", lastTake: " + config->getString("lastRecording.take", ""));
    debugLog("savedFolderPath: " + config->getString("lastRecording.folderPath", ""));
    if (roll.empty()) {
        debugLog("No last recording - returning");
        return;
    }
    const QString folder = lastTakeFolder();
    debugLog("Looking for files in folder: " + folder.toStdString());

    PlaybackDialog dialog(engine_.get(), this);
    const QDir dir(folder);
    if (dir.exists()) {
        const QFileInfoList files = dir.entryInfoList({"*.wav", "*.WAV"}, QDir::Files, QDir::Time);
        if (!files.isEmpty())
            dialog.selectFile(files.first().absoluteFilePath());
    }
    dialog.exec();
}
