#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Measures how late a 10 ms timer on the calling (GUI) thread fires while
// something else runs there: the stand-in for the meters, the timecode and
// the record and stop keys that share that thread. Lives on the GUI thread.
class GuiLatenessProbe : public QObject {
public:
    static constexpr int kPeriodMs = 10;

    GuiLatenessProbe();

    void start();
    void stop();
    // The longest gap between two ticks beyond the period, in milliseconds.
    qint64 worstLateMs() const { return worstLateMs_; }
    int ticks() const { return ticks_; }

private:
    void tick();

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastTickMs_ = 0;
    qint64 worstLateMs_ = 0;
    int ticks_ = 0;
};
