#include "ui/mainwindow/FaderSlider.h"

#include "ui/mainwindow/Theme.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

FaderSlider::FaderSlider(QWidget* parent)
    : QSlider(Qt::Vertical, parent)
{
    setRange(kMinimumTenthsDb, kMaximumTenthsDb);
    setValue(kMinimumTenthsDb);
    cap_.load(findResourcePath("fader.png"));
}

void FaderSlider::setCapSize(int widthPx, int heightPx)
{
    capSize_ = QSize(std::max(widthPx, 8), std::max(heightPx, 8));
    update();
}

void FaderSlider::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int capWidth = std::min(capSize_.width(), width());
    const int capHeight = std::min(capSize_.height(), std::max(height() / 3, 16));
    const QRect capRect(width() / 2 - capWidth / 2, handle.center().y() - capHeight / 2, capWidth, capHeight);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!cap_.isNull()) {
        painter.drawPixmap(capRect, cap_);
        return;
    }
    painter.fillRect(capRect, QColor("#8a8a8a"));
    painter.fillRect(QRect(capRect.left(), capRect.center().y(), capRect.width(), 2), QColor("#f0f0f0"));
}
