// The timecode panel, refreshed with the meters on every meter tick: the
// time of day from the engine's timecode, the running take's elapsed time
// and the frame-rate badge.

#include "ui/mainwindow/MainWindow.h"

#include "engine/AudioEngineBase.h"
#include "timecode/Timecode.h"

#include <QLabel>

#include <cmath>

namespace {

const char* const kForcedRateStyle = "font-size: 16px; color: #ffcc00; font-weight: bold; padding: 2px 8px;";
const char* const kDetectedRateStyle = "font-size: 16px; color: #ff3333; font-weight: bold; padding: 2px 8px;";

bool near(double rate, double nominal)
{
    return std::fabs(rate - nominal) < 0.01;
}

QString twoDigits(qint64 value)
{
    return QString("%1").arg(value, 2, 10, QChar('0'));
}

} // namespace

// The badge's text for a measured or forced rate; 29.97 tells drop frame
// from non-drop by the timecode's own flag.
QString framerateBadgeText(double rate, bool dropFrame)
{
    if (rate <= 0.0)
        return "--";
    const QString ntsc = dropFrame ? "29.97 DF" : "29.97 NDF";
    if (near(rate, 24.0))
        return "24";
    if (near(rate, 25.0))
        return "25";
    if (near(rate, 30.0))
        return "30";
    if (near(rate, 23.976))
        return "23.976";
    if (near(rate, 29.97))
        return ntsc;
    if (rate >= 23.9 && rate < 24.0)
        return "23.976";
    if (rate >= 29.9 && rate < 30.0)
        return ntsc;
    return QString::number(rate, 'f', 2);
}

void MainWindow::updateTimecode()
{
    if (!engine_)
        return;
    const Timecode timecode = engine_->getTimecode();
    if (timecodeLabel_ != nullptr)
        timecodeLabel_->setText(
            QString("%1:%2:%3").arg(twoDigits(timecode.hours), twoDigits(timecode.minutes), twoDigits(timecode.seconds)));

    if (takeTimeLabel_ != nullptr) {
        if (isRecording_ && takeElapsed_.isValid()) {
            const qint64 seconds = takeElapsed_.elapsed() / 1000;
            takeTimeLabel_->setText(QString("%1:%2").arg(twoDigits(seconds / 60), twoDigits(seconds % 60)));
        } else {
            takeTimeLabel_->setText("--:--");
        }
    }

    if (framerateLabel_ != nullptr) {
        const double rate = engine_->getDetectedFramerate();
        framerateLabel_->setText(framerateBadgeText(rate, timecode.dropFrame));
        framerateLabel_->setStyleSheet(rate > 0.0 && engine_->isFramerateForced() ? kForcedRateStyle
                                                                                  : kDetectedRateStyle);
    }
}
