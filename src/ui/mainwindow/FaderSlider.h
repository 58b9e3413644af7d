#pragma once

#include <QPixmap>
#include <QSlider>

// A motor-fader-style slider in tenths of a dB (-600 to 60). The style
// sheet makes the slider's own handle transparent; the "fader.png" cap is
// drawn over it, centred on the handle, scaled to the cap size. Without the
// image only the groove shows. A right press is left to the parent (the
// window's event filter gives strips their context actions).
// Threads: GUI thread only.
class FaderSlider : public QSlider {
public:
    static constexpr int kMinimumTenthsDb = -600;
    static constexpr int kMaximumTenthsDb = 60;

    FaderSlider(Qt::Orientation orientation, QWidget* parent);
    ~FaderSlider() override;

    void setCapSize(int widthPx, int heightPx);
    QSize capSize() const { return QSize(capWidth, capHeight); }
    bool hasCapImage() const { return !capPixmap.isNull(); }
    // Where the cap goes: the cap size centred on the style's handle.
    QRect capRect() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void loadCapImage(const QString& path);
    void updateScaledCap();

    QPixmap capPixmap;
    QPixmap scaledCap;
    int capWidth = 40;
    int capHeight = 70;
};
