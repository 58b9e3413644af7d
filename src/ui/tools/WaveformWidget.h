#pragma once

#include <QFutureWatcher>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class QProgressDialog;

// An overview of one WAV file: at most 1000 minimum/maximum pairs of its
// first channel around a centre line, and a playhead at a fraction of the
// file. A left click asks the owner to seek; the widget never moves its own
// playhead. The widget lives on the GUI thread; the file is read on the
// shared background pool (ui/common/BackgroundWork.h): a take of an hour is
// gigabytes, and the window must answer while it is read.
class WaveformWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxPairs = 1000;
    static constexpr int kBlockFrames = 8192;

    explicit WaveformWidget(QWidget* parent = nullptr);
    ~WaveformWidget() override;

    // Starts reading the file's peaks block by block in the background
    // (memory stays the same for any file length); until they are in, the
    // widget says "Loading waveform..." and a progress dialog with Cancel
    // shows after a second. A load still running is cancelled first.
    // loadFinished tells the outcome.
    void loadFile(const std::string& path);
    bool isLoading() const { return loading_; }
    // Also cancels a running load and waits for the block it is on.
    void clear();
    // Clamped to 0..1; repaints only for a change above 0.001.
    void setPlaybackPosition(double position);

    double playbackPosition() const { return position_; }
    double durationSeconds() const { return durationSeconds_; }
    const std::vector<std::pair<float, float>>& peaks() const { return peaks_; }

signals:
    void seekRequested(double position);
    // The peaks of the file asked for last are shown (true), or the file
    // could not be read or its load was cancelled (false: nothing is shown).
    void loadFinished(bool loaded);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void stopLoading();

    std::vector<std::pair<float, float>> peaks_;
    double position_ = 0.0;
    double durationSeconds_ = 0.0;
    QFutureWatcher<void> load_;
    QPointer<QProgressDialog> progress_;
    // Counts the loads started, so a finished old load is told from the current one.
    int loadNumber_ = 0;
    bool loading_ = false;
};
