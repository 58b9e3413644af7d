#include "ui/mixer/EQVisualizationWidget.h"

#include "ui/common/Theme.h"

#include <QDebug>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

constexpr float kLog20 = 1.30103f;  // log10(20): the left edge
constexpr float kDecades = 3.0f;    // 20 Hz to 20 kHz
constexpr float kRangeDb = 15.0f;

std::atomic<unsigned> paintCount{0};

QPen pen(const QColor& color, qreal width, Qt::PenStyle style = Qt::SolidLine)
{
    return QPen(color, width, style, Qt::SquareCap, Qt::BevelJoin);
}

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

}  // namespace

EQVisualizationWidget::EQVisualizationWidget(QWidget* parent)
    : QWidget(parent),
      bands_{{{100.0f, 0.0f, 1.0f, 20.0f, 500.0f},
              {1000.0f, 0.0f, 1.0f, 200.0f, 5000.0f},
              {5000.0f, 0.0f, 1.0f, 1000.0f, 20000.0f}}},
      bandColors_{QColor(Theme::kEqBandLow), QColor(Theme::kEqBandMid), QColor(Theme::kEqBandHigh)}
{
    setMinimumHeight(60);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_MouseTracking);
    setCursor(Qt::ArrowCursor);
}

void EQVisualizationWidget::setBandParameters(int band, float frequency, float gain, float q)
{
    if (!isBand(band))
        return;
    Band& b = bands_[static_cast<size_t>(band)];
    b.frequency = frequency;
    b.gain = gain;
    b.q = std::max(q, 0.1f);
    update();
}

void EQVisualizationWidget::setBandFrequencyLimits(int band, float minimum, float maximum)
{
    if (!isBand(band))
        return;
    bands_[static_cast<size_t>(band)].minFrequency = minimum;
    bands_[static_cast<size_t>(band)].maxFrequency = maximum;
}

void EQVisualizationWidget::setEnabled(bool enabled)
{
    qDebug() << "EQVisualizationWidget::setEnabled(" << enabled << ") - was" << enabled_;
    enabled_ = enabled;
    update();
}

float EQVisualizationWidget::calculateBandMagnitudeDb(int band, float frequency) const
{
    if (!isBand(band))
        return 0.0f;
    const Band& b = bands_[static_cast<size_t>(band)];
    if (std::fabs(b.gain) < 0.01f)
        return 0.0f;
    const float r = std::max(frequency / b.frequency, 0.001f);
    const float offset = r - 1.0f / r;
    return b.gain / (1.0f + b.q * b.q * offset * offset);
}

float EQVisualizationWidget::calculateMagnitudeDb(float frequency) const
{
    if (!enabled_)
        return 0.0f;
    return calculateBandMagnitudeDb(0, frequency) + calculateBandMagnitudeDb(1, frequency) +
           calculateBandMagnitudeDb(2, frequency);
}

float EQVisualizationWidget::freqToX(float frequency) const
{
    return (std::log10(std::max(frequency, 20.0f)) - kLog20) / kDecades * static_cast<float>(width());
}

float EQVisualizationWidget::xToFreq(float x) const
{
    return std::pow(10.0f, x / static_cast<float>(width()) * kDecades + kLog20);
}

float EQVisualizationWidget::dbToY(float db) const
{
    return (1.0f - (db + kRangeDb) / (2 * kRangeDb)) * static_cast<float>(height());
}

float EQVisualizationWidget::yToDb(float y) const
{
    return (1.0f - y / static_cast<float>(height())) * (2 * kRangeDb) - kRangeDb;
}

QPointF EQVisualizationWidget::markerPosition(int band) const
{
    const float frequency = bands_.at(static_cast<size_t>(band)).frequency;
    return {freqToX(frequency), dbToY(calculateMagnitudeDb(frequency))};
}

int EQVisualizationWidget::hitTestBandMarker(const QPointF& point) const
{
    if (!enabled_)
        return -1;
    for (int band = 0; band < 3; ++band) {
        const QPointF d = point - markerPosition(band);
        if (std::hypot(d.x(), d.y()) <= kMarkerHitRadius)
            return band;
    }
    return -1;
}

QSize EQVisualizationWidget::sizeHint() const
{
    return {300, 100};
}

QSize EQVisualizationWidget::minimumSizeHint() const
{
    return {200, 60};
}

// --- Mouse ------------------------------------------------------------------

void EQVisualizationWidget::updateHoverCursor(const QPointF& point)
{
    setCursor(hitTestBandMarker(point) >= 0 ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

void EQVisualizationWidget::mousePressEvent(QMouseEvent* event)
{
    qDebug() << "EQVisualizationWidget::mousePressEvent - enabled:" << enabled_ << "button:" << event->buttons()
             << "pos:" << event->position();
    if (event->button() == Qt::LeftButton && enabled_) {
        draggedBand_ = hitTestBandMarker(event->position());
        qDebug() << "  Hit band:" << draggedBand_;
        if (draggedBand_ >= 0) {
            setCursor(Qt::ClosedHandCursor);
            qDebug() << "  Set cursor to ClosedHand";
        }
    }
    QWidget::mousePressEvent(event);
}

void EQVisualizationWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (draggedBand_ < 0 || !enabled_) {
        updateHoverCursor(event->position());
    } else {
        Band& b = bands_[static_cast<size_t>(draggedBand_)];
        b.frequency = std::clamp(xToFreq(static_cast<float>(event->position().x())), b.minFrequency, b.maxFrequency);
        b.gain = std::clamp(yToDb(static_cast<float>(event->position().y())), -kMaxDragGainDb, kMaxDragGainDb);
        emit bandParametersChanged(draggedBand_, b.frequency, b.gain);
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void EQVisualizationWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        draggedBand_ = -1;
        updateHoverCursor(event->position());
    }
    QWidget::mouseReleaseEvent(event);
}

// --- Painting ---------------------------------------------------------------

void EQVisualizationWidget::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    const unsigned count = ++paintCount;
    if (count % 60 == 1)
        qDebug() << "EQVisualizationWidget::paintEvent - enabled:" << enabled_ << "size:" << w << "x" << h;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, h);
    background.setColorAt(0, QColor(Theme::kEqBgTop));
    background.setColorAt(1, QColor(Theme::kEqBgBottom));
    painter.fillRect(rect(), background);
    paintGrid(painter, w, h);

    if (enabled_) {
        paintCurves(painter, w, h);
        if (count == 1)
            for (int band = 0; band < 3; ++band)
                qDebug() << "  Drawing marker" << band << "at freq:" << bands_[static_cast<size_t>(band)].frequency
                         << "x:" << markerPosition(band).x() << "y:" << markerPosition(band).y()
                         << "db:" << calculateMagnitudeDb(bands_[static_cast<size_t>(band)].frequency);
        paintMarkers(painter);
    } else {
        QFont font = painter.font();
        font.setPointSize(10);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(pen(QColor(Theme::kEqOffText), 1));
        painter.drawText(rect(), Qt::AlignCenter, "EQ OFF");
        qDebug() << "EQVisualizationWidget: Drawing 'EQ OFF' - enabled is false";
    }
}

void EQVisualizationWidget::paintGrid(QPainter& painter, int w, int h) const
{
    painter.setPen(pen(QColor(Theme::kEqGrid), 1));
    for (double p : {0.9, 0.7, 0.5, 0.3, 0.1}) {
        const int y = static_cast<int>(h * p);
        painter.drawLine(0, y, w, y);
    }
    painter.setPen(pen(QColor(Theme::kEqZeroLine), 2));
    painter.drawLine(0, static_cast<int>(h * 0.5), w, static_cast<int>(h * 0.5));
    painter.setPen(pen(QColor(Theme::kEqGrid), 1));
    for (double p : {0.23299, 0.56632, 0.89966}) {
        const int x = static_cast<int>(w * p);
        painter.drawLine(x, 0, x, h);
    }

    QFont font = painter.font();
    font.setPointSize(8);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(pen(QColor(Theme::kEqScaleText), 1));
    const struct {
        double frequency;
        const char* text;
        int offset;
    } frequencyLabels[] = {{50, "50", 8},   {100, "100", 12}, {250, "250", 12}, {500, "500", 12},
                           {1000, "1k", 8}, {2500, "2.5k", 12}, {5000, "5k", 8}, {10000, "10k", 12}};
    for (const auto& label : frequencyLabels) {
        const double x = w * (std::log10(label.frequency) - kLog20) / kDecades - label.offset;
        painter.drawText(QPointF(x, h - 3), label.text);
    }
    const struct {
        const char* text;
        int x;
        double p;
    } dbLabels[] = {{"+12", 3, 0.1}, {"+6", 3, 0.3}, {"0", 8, 0.5}, {"-6", 5, 0.7}, {"-12", 3, 0.9}};
    for (const auto& label : dbLabels)
        painter.drawText(QPointF(label.x, h * label.p + 4), label.text);
    font.setPointSize(7);
    painter.setFont(font);
    painter.setPen(pen(QColor(Theme::kEqUnitText), 1));
    painter.drawText(QPointF(w - 15, h - 3), "Hz");
    painter.drawText(QPointF(3, 10), "dB");
}

void EQVisualizationWidget::paintCurves(QPainter& painter, int w, int h) const
{
    auto frequencyAt = [w](int x) { return 20.0f * std::pow(1000.0f, static_cast<float>(x) / static_cast<float>(w)); };
    for (int band = 0; band < 3; ++band) {
        if (std::fabs(bands_[static_cast<size_t>(band)].gain) < 0.1f)
            continue;
        QPainterPath path;
        for (int x = 0; x <= w; x += 2) {
            const QPointF point(x, dbToY(calculateBandMagnitudeDb(band, frequencyAt(x))));
            if (x == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        painter.setPen(pen(withAlpha(bandColors_[static_cast<size_t>(band)], 80), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }

    QPainterPath curve;
    QPainterPath fill;
    fill.moveTo(0, h / 2.0);
    for (int x = 0; x <= w; ++x) {
        const QPointF point(x, dbToY(calculateMagnitudeDb(frequencyAt(x))));
        if (x == 0)
            curve.moveTo(point);
        else
            curve.lineTo(point);
        fill.lineTo(point);
    }
    fill.lineTo(w, h / 2.0);
    fill.closeSubpath();
    QLinearGradient fillGradient(0, 0, 0, h);
    fillGradient.setColorAt(0.0, QColor(Theme::kEqFillTop));
    fillGradient.setColorAt(0.5, QColor(Theme::kEqFillMiddle));
    fillGradient.setColorAt(1.0, QColor(Theme::kEqFillBottom));
    painter.fillPath(fill, fillGradient);
    painter.setPen(pen(QColor(Theme::kEqCurve), 3));
    painter.drawPath(curve);
}

void EQVisualizationWidget::paintMarkers(QPainter& painter) const
{
    static const char* const kLetters[] = {"L", "M", "H"};
    const qreal zeroY = height() / 2.0;
    for (int band = 0; band < 3; ++band) {
        const QColor color = bandColors_[static_cast<size_t>(band)];
        const QPointF marker = markerPosition(band);
        painter.setPen(pen(withAlpha(color, 80), 1, Qt::DashLine));
        painter.drawLine(marker, QPointF(marker.x(), zeroY));
        if (band == draggedBand_) {
            QRadialGradient glow(marker, 14);
            glow.setColorAt(0, withAlpha(color, 150));
            glow.setColorAt(1, withAlpha(color, 0));
            painter.setPen(Qt::NoPen);
            painter.setBrush(glow);
            painter.drawEllipse(marker, 14, 14);
        }
        painter.setPen(pen(QColor(Theme::kEqMarkerRim), 2));
        painter.setBrush(color);
        painter.drawEllipse(marker, 10, 10);
        QFont font = painter.font();
        font.setPointSize(7);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(pen(QColor(Theme::kEqMarkerLetter), 1));
        painter.drawText(QRectF(marker.x() - 8, marker.y() - 8, 16, 16), Qt::AlignCenter, kLetters[band]);
    }
}
