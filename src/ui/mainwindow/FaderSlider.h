#pragma once

#include <QPixmap>
#include <QSlider>

// A vertical fader in tenths of a dB (-600 to 60) whose cap is the
// "fader.png" image drawn over the transparent handle; without the image it
// draws a plain grey cap.
// Threads: GUI thread only.
class FaderSlider : public QSlider {
    Q_OBJECT

public:
    static constexpr int kMinimumTenthsDb = -600;
    static constexpr int kMaximumTenthsDb = 60;

    explicit FaderSlider(QWidget* parent = nullptr);

    void setCapSize(int widthPx, int heightPx);
    QSize capSize() const { return capSize_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap cap_;
    QSize capSize_{24, 62};
};
