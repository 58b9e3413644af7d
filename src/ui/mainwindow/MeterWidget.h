#pragma once

#include <QWidget>

// A horizontal segment meter: a peak level (linear, 0 to 1) drawn as lit
// segments, green to amber to red; an armed track's meter has a red frame.
// Threads: GUI thread only.
class MeterWidget : public QWidget {
    Q_OBJECT

public:
    explicit MeterWidget(QWidget* parent = nullptr);

    void setLevel(float peakLinear);
    float level() const { return peakLinear_; }
    void setArmed(bool armed);
    bool isArmed() const { return armed_; }
    void setVisibleSegments(int segments);
    int visibleSegments() const { return segments_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float peakLinear_ = 0.0f;
    bool armed_ = false;
    int segments_ = 30;
};
