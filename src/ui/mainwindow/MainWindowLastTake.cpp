// The last-take button: a click opens playback on the last take's newest
// file.

#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MetadataKeys.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/take/FalseTakeMove.h"
#include "engine/take/TakeFiles.h"
#include "ui/common/Theme.h"
#include "ui/tools/PlaybackDialog.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QFileInfo>
#include <QPushButton>

#include <filesystem>
#include <string>
#include <vector>

namespace {

QString falseTakeMenuStyle()
{
    using namespace Theme;
    return QString("QMenu { background-color: %1; color: %2; border: 1px solid %3; padding: 6px 0px; }"
                   "QMenu::item { padding: 10px 24px; margin: 2px 6px; }QMenu::item:selected { background-color: "
                   "%4; }")
        .arg(kLastTakeMenuBg, kLastTakeText, kLastTakeBorder, kLastTakeMenuSelectedBg);
}

QString falseTakeQuestionStyle()
{
    using namespace Theme;
    return QString("QMessageBox { background-color: %1; }QMessageBox QLabel { color: %2; padding: 10px; }"
                   "QPushButton { background-color: %3; color: %4; border: 1px solid %5;              "
                   "padding: 8px 20px; margin: 4px; min-width: 80px; }QPushButton:hover { background-color: %6; }"
                   "QPushButton:pressed { background-color: %7; }")
        .arg(kLastTakeQuestionBg, kLastTakeText, kLastTakeButtonBg, kLastTakeButtonText, kLastTakeBorder,
             kLastTakeButtonHoverBg, kLastTakeButtonPressedBg);
}

} // namespace

QString MainWindow::lastTakeFolder()
{
    ConfigManager* config = ConfigManager::getInstance();
    const std::string stored = config->getString(MetadataKeys::kLastFolderPath, "");
    if (!stored.empty())
        return QString::fromStdString(stored);
    std::string project = config->getString(MetadataKeys::kProject, "Project");
    if (project.empty())
        project = "Project";
    // The engine's own base folder and sanitising, so the path names the
    // folder that holds the take.
    return QString::fromStdString(
        takeFolderPath(baseRecordingFolder(), project, config->getString(MetadataKeys::kLastSoundRoll, "")));
}

void MainWindow::onLastRecordingClicked()
{
    debugLog("onLastRecordingClicked called");
    if (lastRecordingButton_ == nullptr || lastRecordingButton_->text().isEmpty()) {
        debugLog("No last recording label text - returning");
        return;
    }
    ConfigManager* config = ConfigManager::getInstance();
    const std::string roll = config->getString(MetadataKeys::kLastSoundRoll, "");
    debugLog("lastSoundRoll: " + roll + ", lastScene: " + config->getString(MetadataKeys::kLastScene, "") +
             ", lastTake: " + config->getString(MetadataKeys::kLastTake, ""));
    debugLog("savedFolderPath: " + config->getString(MetadataKeys::kLastFolderPath, ""));
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

void MainWindow::onLastRecordingRightClick(const QPoint& position)
{
    if (lastRecordingButton_ == nullptr || lastRecordingButton_->text().isEmpty())
        return;
    QMenu menu(this);
    menu.setStyleSheet(falseTakeMenuStyle());
    QAction* mark = menu.addAction("Mark as False Take?");
    if (menu.exec(lastRecordingButton_->mapToGlobal(position)) == mark)
        confirmFalseTake();
}

void MainWindow::confirmFalseTake()
{
    QMessageBox box(this);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle("False Take");
    box.setText("Mark the last recorded file as a false take?");
    box.setInformativeText("This will move the file to a FALSETAKES subfolder\nand add an 'F-' prefix to the filename.");
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setStyleSheet(falseTakeQuestionStyle());
    if (box.exec() != QMessageBox::Yes)
        return;
    markLastTakeFalse();
}

int MainWindow::markLastTakeFalse()
{
    // Moving files the writer still has open would lose the take being made.
    if (isTakeRecordingOrDraining()) {
        debugLog("False take refused: a take is recording or finishing");
        showStyledMessageBox(this, "False Take",
                             "A take is recording or finishing. Mark the false take once it has ended.",
                             QMessageBox::Ok);
        return 0;
    }
    ConfigManager* config = ConfigManager::getInstance();
    if (config->getString(MetadataKeys::kLastSoundRoll, "").empty())
        return 0;
    const std::string folder = lastTakeFolder().toStdString();
    std::vector<std::string> closedTakeFiles;
    auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get());
    if (coreAudio)
        closedTakeFiles = coreAudio->getLastClosedTakeFiles();
    const std::vector<std::string> toMove =
        lastTakeFiles(folder, closedTakeFiles, std::filesystem::file_time_type::clock::now());
    const FalseTakeMoveResult result = moveToFalseTakes(folder, toMove);
    const int moved = result.movedCount();
    if (moved == 0)
        return 0;
    // The backup drives hold the same take: post must not receive it there as a good one.
    if (coreAudio) {
        std::vector<std::pair<std::string, std::string>> movedFiles;
        for (const FalseTakeFileMove& file : result.files) {
            if (file.moved)
                movedFiles.emplace_back(file.sourcePath, file.targetPath);
        }
        coreAudio->moveFalseTakeOnBackups(baseRecordingFolder(), folder, movedFiles);
    }

    const std::string previousRoll = config->getString(MetadataKeys::kPreviousSoundRoll, "");
    if (previousRoll.empty()) {
        lastRecordingButton_->setText(QString());
        lastRecordingButton_->setToolTip(QString());
        for (const char* key : MetadataKeys::kLastRecordingFields)
            config->setString(key, "");
    } else {
        const std::string scene = config->getString(MetadataKeys::kPreviousScene, "");
        QString text = QString("Last: %1").arg(QString::fromStdString(previousRoll));
        if (!scene.empty())
            text += QString(" / %1").arg(QString::fromStdString(scene));
        text += QString(" / T%1").arg(QString::fromStdString(config->getString(MetadataKeys::kPreviousTake, "")));
        lastRecordingButton_->setText(text);
        lastRecordingButton_->setToolTip(text);
        for (size_t i = 0; i < std::size(MetadataKeys::kLastRecordingFields); ++i) {
            config->setString(MetadataKeys::kLastRecordingFields[i],
                              config->getString(MetadataKeys::kPreviousRecordingFields[i], ""));
            config->setString(MetadataKeys::kPreviousRecordingFields[i], "");
        }
    }
    config->saveConfig("");

    bool isNumber = false;
    const int take = takeEdit_ != nullptr ? takeEdit_->text().toInt(&isNumber, 10) : 0;
    if (isNumber && take > 1) {
        const QString previous = QString("%1").arg(take - 1, 2, 10, QChar('0'));
        takeEdit_->setText(previous);
        config->setString(MetadataKeys::kTake, previous.toStdString());
        config->saveConfig("");
    }

    auto* toast = new QLabel(QString("Moved %1 file(s) to FALSETAKES").arg(moved), this);
    toast->setObjectName("falseTakeToast");
    toast->setStyleSheet(toastStyle(Theme::kToastSuccess));
    toast->setAlignment(Qt::AlignCenter);
    toast->adjustSize();
    toast->move((width() - toast->width()) / 2, 100);
    toast->show();
    toast->raise();
    QTimer::singleShot(2000, toast, &QObject::deleteLater);
    return moved;
}
