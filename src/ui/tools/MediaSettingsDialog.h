#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QSpinBox;

// The recording media settings: file layout, bit depth, pre- and post-roll,
// save location and the backup drives (each with its own layout), plus live
// backup of the active take. The caller passes the current values in and
// reads the getters after an accepted run; the dialog stores nothing itself.
// Its only effect is creating a missing save folder on OK. GUI thread only.
class MediaSettingsDialog : public QDialog {
    Q_OBJECT

public:
    struct ExternalPathInfo {
        std::string path;
        int format = 0;  // 0 polyphonic, 1 one file per track
    };

    struct DriveInfo {
        std::string path;
        std::string name;
        std::string device;
        uint64_t totalBytes = 0;
        uint64_t availableBytes = 0;
        bool enabled = false;
        bool mounted = false;
        int format = 0;
    };

    MediaSettingsDialog(const std::string& saveLocation, int fileFormat, int bitDepth, int prerollSeconds,
                        int postrollSeconds, bool externalEnabled, bool liveBackupActiveTake,
                        const std::vector<ExternalPathInfo>& externalPaths, QWidget* parent = nullptr);

    std::string getSaveLocation() const;
    int getFileFormat() const;
    int getBitDepth() const;
    int getSampleFormat() const;
    int getPrerollSeconds() const;
    int getPostrollSeconds() const;
    bool isExternalMediaEnabled() const;
    bool isLiveBackupActiveTakeEnabled() const;
    std::vector<std::string> getExternalMediaPaths() const;
    std::vector<ExternalPathInfo> getExternalMediaPathsWithFormats() const;

    static QString formatSize(unsigned long long bytes);

    const std::vector<DriveInfo>& drives() const { return drives_; }

private slots:
    void onBrowseLocation();
    void onRefreshDrives();
    void onOk();
    void onCancel();

private:
    void detectExternalDrives();
    void updateDriveList();
    QCheckBox* rowCheckBox(int row) const;
    void showBox(const QString& title, const QString& text);

    const std::vector<ExternalPathInfo> configuredPaths_;
    std::vector<DriveInfo> drives_;
    std::map<int, QComboBox*> formatCombos_;

    QComboBox* fileFormatCombo_ = nullptr;
    QComboBox* bitDepthCombo_ = nullptr;
    QSpinBox* prerollSpin_ = nullptr;
    QSpinBox* postrollSpin_ = nullptr;
    QLineEdit* saveLocationEdit_ = nullptr;
    QListWidget* driveList_ = nullptr;
    QCheckBox* liveBackupCheck_ = nullptr;
};
