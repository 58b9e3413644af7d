#pragma once

#include <QDialog>

#include <string>
#include <vector>

// The media settings: save location, file layout, bit depth, pre- and
// post-roll and the backup drives. The dialog shows the values it is given
// and its getters read back what the recordist left in it.
// Threads: GUI thread only.
class MediaSettingsDialog : public QDialog {
    Q_OBJECT

public:
    struct ExternalPathInfo {
        std::string path;
        int format = 0; // 0 polyphonic, 1 one mono file per track
    };

    MediaSettingsDialog(const std::string& saveLocation, int fileFormat, int bitDepth, int prerollSeconds,
                        int postrollSeconds, bool externalMediaEnabled, bool liveBackupActiveTake,
                        const std::vector<ExternalPathInfo>& externalPaths, QWidget* parent = nullptr);

    std::string getSaveLocation() const;
    int getFileFormat() const { return fileFormat_; }
    int getBitDepth() const { return bitDepth_; }
    // 0 16-bit integer, 1 24-bit integer, 3 32-bit float.
    int getSampleFormat() const;
    int getPrerollSeconds() const { return prerollSeconds_; }
    int getPostrollSeconds() const { return postrollSeconds_; }
    bool isExternalMediaEnabled() const { return !externalPaths_.empty(); }
    bool isLiveBackupActiveTakeEnabled() const { return liveBackupActiveTake_; }
    std::vector<ExternalPathInfo> getExternalMediaPathsWithFormats() const { return externalPaths_; }

private:
    std::string saveLocation_;
    int fileFormat_ = 0;
    int bitDepth_ = 24;
    int prerollSeconds_ = 0;
    int postrollSeconds_ = 0;
    bool liveBackupActiveTake_ = false;
    std::vector<ExternalPathInfo> externalPaths_;
};
