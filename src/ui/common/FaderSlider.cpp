#include "ui/common/FaderSlider.h"

#include "controllers/MidiControllerManager.h"
#include "ui/common/Theme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kHardwareTop = MidiControllerManager::kFaderTopValue;
constexpr double kBottomDb = FaderSlider::kMinimumTenthsDb / 10.0;
constexpr double kRangeDb = (FaderSlider::kMaximumTenthsDb - FaderSlider::kMinimumTenthsDb) / 10.0;

} // namespace

float FaderSlider::gainLinear(int tenthsDb)
{
    return tenthsDb < kSilentBelowTenthsDb ? 0.0f : gainLinearOfDb(tenthsDb / 10.0);
}

float FaderSlider::gainLinearOfDb(double gainDb)
{
    return static_cast<float>(std::pow(10.0, gainDb / 20.0));
}

QString FaderSlider::gainText(int tenthsDb)
{
    if (tenthsDb < kSilentBelowTenthsDb)
        return QString::fromUtf8("-∞ dB");
    return QString("%1 dB").arg(tenthsDb / 10.0, 0, 'f', 1);
}

int FaderSlider::hardwarePosition(int tenthsDb)
{
    const int position = static_cast<int>((tenthsDb / 10.0 - kBottomDb) / kRangeDb * kHardwareTop);
    return std::clamp(position, 0, kHardwareTop);
}

double FaderSlider::gainDbOfHardwarePosition(int position)
{
    return std::clamp(position, 0, kHardwareTop) / static_cast<double>(kHardwareTop) * kRangeDb + kBottomDb;
}

int FaderSlider::tenthsDbOfHardwarePosition(int position)
{
    const int tenthsDb = static_cast<int>(std::lround(gainDbOfHardwarePosition(position) * 10.0));
    return std::clamp(tenthsDb, kMinimumTenthsDb, kMaximumTenthsDb);
}

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
    // Called for every strip on every resize: the image is scaled again
    // only when the size changes.
    if (widthPx == capWidth && heightPx == capHeight)
        return;
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
