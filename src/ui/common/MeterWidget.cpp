#include "ui/common/MeterWidget.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr float kFallFactor = 0.88f;

void setStops(QGradient& gradient, const std::vector<Theme::ColourStop>& stops)
{
    for (const Theme::ColourStop& stop : stops)
        gradient.setColorAt(stop.position, QColor(stop.colour));
}

} // namespace

MeterWidget::MeterWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(12);
    setMinimumWidth(100);
}

int MeterWidget::valueForPeak(float peak)
{
    if (!(peak > 0.0f) || peak < 1e-10f)
        return 0;
    const float db = 20.0f * std::log10(peak);
    if (db <= -60.0f)
        return 0;
    if (db >= 6.0f)
        return kMaximumValue;
    return static_cast<int>(1000.0 * std::pow((static_cast<double>(db) + 60.0) / 66.0, 1.5));
}

void MeterWidget::setValue(int value)
{
    const int oldValue = value_;
    const int oldPeak = peak_;
    value_ = std::clamp(value, 0, kMaximumValue);
    const float target = static_cast<float>(value_);
    const float old = displayedLevel_;
    const float falling = target + (old - target) * kFallFactor;
    displayedLevel_ = (old <= target || falling < target + 0.5f) ? target : falling;

    if (value_ >= peak_) {
        peak_ = value_;
        peakHoldCount_ = kPeakHoldUpdates;
    } else if (peakHoldCount_ >= 1) {
        --peakHoldCount_;
    } else {
        peak_ = std::max(peak_ - kPeakFallPerUpdate, value_);
    }
    // Twenty times a second for every meter: a steady meter is not repainted.
    if (value_ != oldValue || displayedLevel_ != old || peak_ != oldPeak)
        update();
}

void MeterWidget::setArmed(bool armed)
{
    if (armed == armed_)
        return;
    armed_ = armed;
    update();
}

void MeterWidget::setMeterStyle(const Theme::MeterStyle& style)
{
    style_ = &style;
    update();
}

void MeterWidget::paintEvent(QPaintEvent*)
{
    const Theme::MeterStyle& style = *style_;
    const int w = width();
    const int h = height();
    const int radius = h / 4;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(style.rim));
    painter.drawRoundedRect(QRectF(0, 0, w, h), radius, radius);

    QLinearGradient trough(0, 0, 0, h);
    setStops(trough, style.trough);
    painter.setBrush(trough);
    painter.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), radius - 1, radius - 1);

    const int fill = std::min(static_cast<int>(displayedLevel_ / 1000.0f * static_cast<float>(w - 2)), w - 2);
    if (fill > 0) {
        // The gradient spans the whole trough, so a short bar shows only
        // the low colours.
        QLinearGradient colours(1, 0, w - 1, 0);
        setStops(colours, armed_ ? style.armed : style.unarmed);
        const QRectF bar(1, 1, fill, h - 2);
        painter.save();
        QPainterPath clip;
        clip.addRoundedRect(bar, radius - 1, radius - 1);
        painter.setClipPath(clip);
        painter.setPen(Qt::NoPen);
        painter.fillRect(bar, colours);
        if (armed_) {
            QLinearGradient gloss(0, 1, 0, h - 1);
            setStops(gloss, style.gloss);
            painter.fillRect(bar, gloss);
        }
        painter.restore();
    }

    if (armed_ && peak_ >= 1) {
        const float fraction = static_cast<float>(peak_) / 1000.0f;
        const int x = static_cast<int>(fraction * static_cast<float>(w - 2));
        if (x >= 3) {
            const QColor colour(fraction < style.peakCautionFrom ? style.peakSafe
                                : fraction < style.peakAlertFrom ? style.peakCaution
                                                                 : style.peakAlert);
            painter.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            painter.drawLine(QPointF(x + 1, 1), QPointF(x + 1, h - 2));
        }
    }
}
