#pragma once

#include "ui/common/Theme.h"

#include <QWidget>

// A horizontal level meter. Values run 0 to 1000 along the bar; the bar
// jumps up at once and falls 12 % of the distance per update, and a peak
// line is held for 30 updates (1.5 s at the window's 50 ms) before it falls
// 12 per update. Armed it is drawn green to red with a gloss and the peak
// line; unarmed in greys without either. Its colours and the peak line's
// zones come from a Theme::MeterStyle, the standard one unless set.
// Threads: GUI thread only.
class MeterWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaximumValue = 1000;
    static constexpr int kPeakHoldUpdates = 30;
    static constexpr int kPeakFallPerUpdate = 12;

    explicit MeterWidget(QWidget* parent = nullptr);

    // The bar position of a linear peak (1.0 = full scale): -60 dB and below
    // is 0, +6 dB and above 1000, stretched toward the top (0 dB is 866).
    static int valueForPeak(float peak);

    void setValue(int value);
    void setArmed(bool armed);
    // `style` must outlive the meter (the Theme's styles are static).
    void setMeterStyle(const Theme::MeterStyle& style);

    int value() const { return value_; }
    float displayedLevel() const { return displayedLevel_; }
    int peak() const { return peak_; }
    int peakHoldCount() const { return peakHoldCount_; }
    bool isArmed() const { return armed_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int value_ = 0;
    float displayedLevel_ = 0.0f;
    int peak_ = 0;
    int peakHoldCount_ = 0;
    bool armed_ = true;
    const Theme::MeterStyle* style_ = &Theme::standardMeterStyle();
};
