#pragma once

#include "EngineDouble.h"
#include "MainWindowTestSupport.h"

#include "platform/volumes/ExfatFormatter.h"
#include "platform/volumes/MountedVolume.h"
#include "ui/common/Theme.h"
#include "ui/tools/ModalAnswerer.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

// The engine double with the backup side a test sets: copy activity, a
// drive error per backup drive, a draining writer; it records the backup
// drive lists and the errors cleared.
class DriveEngineDouble : public EngineDouble {
public:
    using EngineDouble::EngineDouble;

    static void install(std::shared_ptr<AudioSystem> system)
    {
        AudioEngineFactory::setEngineMakerForTests(
            [system] { return std::unique_ptr<AudioEngineBase>(new DriveEngineDouble(system)); });
    }

    bool isWriterDraining() const override { return draining; }
    bool isBackupCopyActive() const override { return copying; }
    bool hasBackupDriveError(int drive) const override { return drive >= 0 && drive < 2 && driveError[drive]; }
    void clearBackupDriveError(int drive) override
    {
        cleared.push_back(drive);
        if (drive >= 0 && drive < 2)
            driveError[drive] = false;
    }
    void setBackupMediaPathsWithFormats(bool enabled, const std::vector<BackupPathInfo>& paths) override
    {
        backupLists.push_back({enabled, paths});
        AudioEngine_CoreAudio::setBackupMediaPathsWithFormats(enabled, paths);
    }
    void setLiveBackupActiveTake(bool enabled) override
    {
        liveBackup = enabled;
        AudioEngine_CoreAudio::setLiveBackupActiveTake(enabled);
    }

    bool draining = false;
    bool copying = false;
    bool liveBackup = false;
    bool driveError[2] = {false, false};
    std::vector<int> cleared;
    std::vector<std::pair<bool, std::vector<BackupPathInfo>>> backupLists;
};

// A window on the drive engine double and virtual volumes whose roots are
// real folders under a temporary volumes root (so the write-access test
// writes where a test can look).
class MainWindowDrivesTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        DriveEngineDouble::install(audio_);
        root_ = home_.path() + "/volumes";
        QDir().mkpath(root_);
        setVolumesRoots({root_.toStdString()});
    }

    void TearDown() override
    {
        MainWindowTest::TearDown();
        EngineDouble::uninstall();
        setVolumesRoots(defaultVolumesRoots());
        ExfatFormatter::setDefaultPrograms({});
    }

    // A card under the volumes root, its folder made.
    std::string card(const QString& name, uint64_t availableBytes, uint64_t totalBytes = 32ULL << 30,
                     const std::string& label = "")
    {
        const QString path = root_ + "/" + name;
        QDir().mkpath(path);
        volumes_->addVolume(path.toStdString(), label, totalBytes, availableBytes);
        return path.toStdString();
    }

    // A volume outside the volumes root (the recording folder's), its folder made.
    std::string internal(const QString& name, uint64_t availableBytes)
    {
        const QString path = home_.path() + "/" + name;
        QDir().mkpath(path);
        volumes_->addVolume(path.toStdString(), name.toStdString(), 500ULL << 30, availableBytes);
        return path.toStdString();
    }

    DriveEngineDouble& engine() const { return *dynamic_cast<DriveEngineDouble*>(window_->engine()); }

    QWidget* indicator(const QString& type) const { return window_->findChild<QWidget*>("driveIndicator" + type); }
    QLabel* image(const QString& type) const { return indicator(type)->findChild<QLabel*>("imageLabel"); }
    QLabel* time(const QString& type) const { return indicator(type)->findChild<QLabel*>("timeLabel"); }
    QString timeColour(const QString& type) const
    {
        const QString style = time(type)->styleSheet();
        const qsizetype at = style.indexOf("color: ");
        return at < 0 ? QString() : style.mid(at + 7, 7);
    }

    // The icon the window would show for `fileName`, as the drawn artwork.
    static QImage expectedIcon(const QString& fileName)
    {
        const QPixmap loaded(findResourcePath(fileName));
        if (loaded.isNull())
            return {};
        return loaded.scaled(50, 50, Qt::KeepAspectRatio, Qt::SmoothTransformation).toImage();
    }
    bool shows(const QString& type, const QString& fileName) const
    {
        const QPixmap shown = image(type)->pixmap();
        return !shown.isNull() && shown.toImage() == expectedIcon(fileName);
    }

    QString root_;
};
