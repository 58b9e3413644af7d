#pragma once

#include <QDialog>
#include <QString>


class AudioEngineBase;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QTimer;
class WaveformWidget;

// Plays recorded takes back through the engine: lists the WAV files of the
// current sound-roll folder, shows the chosen file's format and take
// metadata and its waveform, and offers Play/Stop, Pause/Resume and seeking.
// GUI thread only; the engine is borrowed, may be null, and does the playing
// on its own threads while a 100 ms timer polls it.
class PlaybackDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kSliderSteps = 1000;
    static constexpr int kTickMs = 100;
    static constexpr int kRoutedChannels = 16;

    explicit PlaybackDialog(AudioEngineBase* engine, QWidget* parent = nullptr);
    ~PlaybackDialog() override;

    // Lists the file's own folder and chooses the file; nothing when no file
    // exists at the path.
    void selectFile(const QString& path);

    // "HH:MM:SS" of the whole seconds; hours may run past two digits.
    static QString formatDuration(double seconds);

    QString currentFile() const { return currentFile_; }
    bool isPlaying() const { return playing_; }
    bool isPaused() const { return paused_; }
    double startPositionSeconds() const { return startPositionSeconds_; }
    WaveformWidget* waveform() const { return waveform_; }
    QTimer* positionTimer() const { return positionTimer_; }

public slots:
    void onFileSelected();
    void onPlayStopClicked();
    void onPauseClicked();
    void onRefreshFiles();
    void updatePlaybackPosition();
    void onPositionSliderMoved(int value);
    void onWaveformSeek(double position);

private:
    void setupUI();
    void applyOutputRouting();
    void populateFileList();
    QString getCurrentRecordingFolder() const;
    void loadFileInfo(const QString& path);
    bool anyChannelRouted() const;
    void stopPlaying();
    void seekTo(double fraction);
    void showTime(double positionSeconds);
    void setPlayButtonStopping(bool stopping);
    void showMessage(const QString& title, const QString& text);

    AudioEngineBase* engine_;
    QString currentFile_;
    int channelCount_ = 0;
    double durationSeconds_ = 0.0;
    double currentPositionSeconds_ = 0.0;
    double startPositionSeconds_ = 0.0;
    bool playing_ = false;
    bool paused_ = false;
    bool sliderHeld_ = false;

    QListWidget* fileList_ = nullptr;
    QLabel* infoLabel_ = nullptr;
    WaveformWidget* waveform_ = nullptr;
    QSlider* positionSlider_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QPushButton* pauseButton_ = nullptr;
    QTimer* positionTimer_ = nullptr;
};
