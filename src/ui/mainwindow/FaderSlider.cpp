#include "ui/mainwindow/FaderSlider.h"

#include "ui/mainwindow/Theme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>

FaderSlider::FaderSlider(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent)
{
    // The same slider geometry on every platform: the sheet's handle sizes
    // are what the cap is centred on.
    if (QStyle* fusion = QStyleFactory::create("Fusion")) {
        fusion->setParent(this);
        setStyle(fusion);
    }
    loadCapImage(findResourcePath("fader.png"));
    update();
}

FaderSlider::~FaderSlider() = default;

void FaderSlider::loadCapImage(const QString& path)
{
    QPixmap image;
    if (!image.load(path))
        return;
    capPixmap = image;
    updateScaledCap();
}

void FaderSlider::updateScaledCap()
{
    if (capPixmap.isNull() || capWidth < 1 || capHeight < 1) {
        scaledCap = QPixmap();
        return;
    }
    scaledCap = capPixmap.scaled(capWidth, capHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void FaderSlider::setCapSize(int widthPx, int heightPx)
{
    capWidth = widthPx;
    capHeight = heightPx;
    updateScaledCap();
    update();
}

QRect FaderSlider::capRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    QRect rect(0, 0, capWidth, capHeight);
    rect.moveCenter(handle.center());
    return rect;
}

void FaderSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->ignore();
        return;
    }
    QSlider::mousePressEvent(event);
}

void FaderSlider::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    if (capPixmap.isNull())
        return;
    if (scaledCap.size() != QSize(capWidth, capHeight))
        updateScaledCap();
    if (scaledCap.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(capRect(), scaledCap);
}
