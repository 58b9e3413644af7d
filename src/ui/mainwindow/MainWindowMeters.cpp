// What the meter timer refreshes: the mix and track meters, the timecode
// panel (time of day from the engine's timecode, the running take's elapsed
// time, the frame-rate badge) and the automix shares; and the badge's menu
// that forces a frame rate.

#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/settings/LtcKeys.h"
#include "engine/render/AutomixEngine.h"
#include "timecode/Timecode.h"
#include "ui/common/MeterWidget.h"
#include "ui/common/Theme.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>

#include <algorithm>
#include <cmath>

namespace {

// The frame rate badge: a rate forced by the user, or the one read from timecode.
QString rateStyle(bool forced)
{
    static const QString style = "font-size: 16px; color: %1; font-weight: bold; padding: 2px 8px;";
    static const QString forcedStyle = style.arg(Theme::kCaution);
    static const QString detectedStyle = style.arg(Theme::kAlert);
    return forced ? forcedStyle : detectedStyle;
}

bool near(double rate, double nominal)
{
    return std::fabs(rate - nominal) < 0.01;
}

QString twoDigits(qint64 value)
{
    return QString("%1").arg(value, 2, 10, QChar('0'));
}

struct ForcedRate {
    const char* label;
    double rate;
    bool dropFrame;
};

const ForcedRate kForcedRates[] = {{"23.976", 23.976, false}, {"24", 24.0, false},          {"25", 25.0, false},
                                   {"29.97 NDF", 29.97, false}, {"29.97 DF", 29.97, true}, {"30", 30.0, false}};

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
        // Set only on a change: a new sheet repolishes the badge.
        const QString style = rateStyle(rate > 0.0 && engine_->isFramerateForced());
        if (framerateLabel_->styleSheet() != style)
            framerateLabel_->setStyleSheet(style);
    }
}

void MainWindow::updateMeters()
{
    if (!engine_)
        return;
    if (mixMeter_ != nullptr)
        mixMeter_->setValue(MeterWidget::valueForPeak(engine_->getMainPeakLevel()));
    // Hidden rows are not polled: a row shown again catches up on the next tick.
    const size_t shown = std::min(static_cast<size_t>(std::max(shownTrackCount_, 0)), trackRows_.size());
    for (size_t track = 0; track < shown; ++track) {
        if (trackRows_[track].meter != nullptr)
            trackRows_[track].meter->setValue(
                MeterWidget::valueForPeak(engine_->getTrackPeakLevel(static_cast<int>(track))));
    }
}

MainWindow::AutomixShareText MainWindow::automixShareText(float share)
{
    const int percent = static_cast<int>(share * 100.0f);
    if (percent < 1)
        return {};
    const char* colour = percent >= 81 ? Theme::kShareHigh : (percent >= 51 ? Theme::kShareMiddle : Theme::kShareLow);
    return {QString("%1%").arg(percent), QString("QLabel { color: %1; font-size: 9px; }").arg(colour)};
}

void MainWindow::updateAutomixIndicators()
{
    AutomixEngine* automixer = automixEngine();
    if (automixer == nullptr)
        return;
    const size_t shown = std::min(static_cast<size_t>(std::max(shownTrackCount_, 0)), trackRows_.size());
    for (size_t track = 0; track < shown; ++track) {
        const TrackRow& row = trackRows_[track];
        if (row.automixShareLabel == nullptr)
            continue;
        const AutomixShareText share = row.automixGroup < 1
                                           ? AutomixShareText{}
                                           : automixShareText(automixer->getTrackNOMContribution(static_cast<int>(track)));
        // Twenty times a second: a label is touched only when it changes,
        // since every new text or sheet lays the row out again.
        if (row.automixShareLabel->text() != share.text)
            row.automixShareLabel->setText(share.text);
        if (!share.styleSheet.isEmpty() && row.automixShareLabel->styleSheet() != share.styleSheet)
            row.automixShareLabel->setStyleSheet(share.styleSheet);
    }
}

void MainWindow::onFramerateContextMenu(const QPoint& position)
{
    if (!engine_ || framerateLabel_ == nullptr)
        return;
    QMenu menu(this);
    menu.setStyleSheet(QString("QMenu { background-color: %1; color: white; } QMenu::item:selected { "
                               "background-color: %2; }")
                           .arg(Theme::kBgSurface, Theme::kBgMenuSelected));
    const double current = engine_->getForcedFramerate();
    const bool forcedDropFrame = ConfigManager::getInstance()->getBool(LtcKeys::kForcedDropFrame, false);
    for (const ForcedRate& row : kForcedRates) {
        QAction* action = menu.addAction(row.label);
        action->setCheckable(true);
        const bool sameRate = std::fabs(current - row.rate) < 0.01;
        action->setChecked(sameRate && (!near(row.rate, 29.97) || row.dropFrame == forcedDropFrame));
        connect(action, &QAction::triggered, this, [this, row] {
            if (!engine_)
                return;
            engine_->setForcedFramerate(row.rate);
            // Saved with the next save; the next take is stamped with the flag.
            ConfigManager::getInstance()->setFloat(LtcKeys::kForcedFramerate, static_cast<float>(row.rate));
            ConfigManager::getInstance()->setBool(LtcKeys::kForcedDropFrame, row.dropFrame);
        });
    }
    menu.exec(framerateLabel_->mapToGlobal(position));
}
