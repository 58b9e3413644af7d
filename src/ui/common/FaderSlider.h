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
    // Values below -58.9 dB are silence.
    static constexpr int kSilentBelowTenthsDb = -589;

    // The fader's scale, which the control surfaces share: their faders run
    // 0 to MidiControllerManager::kFaderTopValue over the same -60 to +6 dB.
    // The linear gain of a fader value: 0 when silent.
    static float gainLinear(int tenthsDb);
    static float gainLinearOfDb(double gainDb);
    // What the gain label shows: "-∞ dB" when silent, else "-12.5 dB".
    static QString gainText(int tenthsDb);
    // A fader value as a hardware fader position, 0 to the top value.
    static int hardwarePosition(int tenthsDb);
    // A hardware fader position, held to 0 to the top value, in dB: unrounded,
    // and as the nearest fader value.
    static double gainDbOfHardwarePosition(int position);
    static int tenthsDbOfHardwarePosition(int position);

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
