#include "ui/mainwindow/MeterWidget.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr float kFloorDb = -60.0f;

} // namespace

MeterWidget::MeterWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(60, 8);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MeterWidget::setLevel(float peakLinear)
{
    peakLinear = std::clamp(peakLinear, 0.0f, 1.0f);
    if (peakLinear == peakLinear_)
        return;
    peakLinear_ = peakLinear;
    update();
}

void MeterWidget::setArmed(bool armed)
{
    if (armed == armed_)
        return;
    armed_ = armed;
    update();
}

void MeterWidget::setVisibleSegments(int segments)
{
    segments_ = std::max(segments, 1);
    update();
}

void MeterWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor("#111111"));
    const float levelDb = peakLinear_ > 0.0f ? 20.0f * std::log10(peakLinear_) : kFloorDb;
    const float fraction = std::clamp((levelDb - kFloorDb) / -kFloorDb, 0.0f, 1.0f);
    const int lit = static_cast<int>(std::lround(fraction * static_cast<float>(segments_)));
    const double segmentWidth = static_cast<double>(width() - 2) / segments_;
    for (int segment = 0; segment < segments_; ++segment) {
        const double position = static_cast<double>(segment) / segments_;
        QColor colour = position < 0.7 ? QColor("#2e9e4a") : (position < 0.9 ? QColor("#d6a422") : QColor("#d63a2f"));
        if (segment >= lit)
            colour = colour.darker(400);
        const QRectF cell(1 + segment * segmentWidth, 1, segmentWidth - 1, height() - 2);
        painter.fillRect(cell, colour);
    }
    if (armed_) {
        painter.setPen(QPen(QColor("#ff3b30"), 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
