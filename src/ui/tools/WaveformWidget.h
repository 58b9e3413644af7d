#pragma once

#include <QWidget>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// An overview of one WAV file: at most 1000 minimum/maximum pairs of its
// first channel around a centre line, and a playhead at a fraction of the
// file. A left click asks the owner to seek; the widget never moves its own
// playhead. GUI thread only.
class WaveformWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxPairs = 1000;
    static constexpr int kBlockFrames = 8192;

    explicit WaveformWidget(QWidget* parent = nullptr);

    // Replaces the peaks with those of the file, read block by block: memory
    // stays the same for any file length. False when the file cannot be read.
    bool loadFile(const std::string& path);
    void clear();
    // Clamped to 0..1; repaints only for a change above 0.001.
    void setPlaybackPosition(double position);

    double playbackPosition() const { return position_; }
    double durationSeconds() const { return durationSeconds_; }
    const std::vector<std::pair<float, float>>& peaks() const { return peaks_; }

signals:
    void seekRequested(double position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Pairs of `bucketFrames` samples each over the first `pairCount` buckets;
    // the samples past pairCount × bucketFrames are not drawn.
    bool readPeaks(const std::string& path, int64_t frameCount, int64_t& framesRead);
    void normalisePeaks();

    std::vector<std::pair<float, float>> peaks_;
    double position_ = 0.0;
    double durationSeconds_ = 0.0;
};
