#pragma once

#include <QColor>
#include <QWidget>

#include <array>

// The channel strip's live EQ curve: the summed response of three bell-shaped
// bands over 20 Hz to 20 kHz (log axis) and -15 to +15 dB, with a draggable
// marker per band. The response is this widget's own approximation for the
// eye, not the engine's filter. Dragging a marker moves that band's frequency
// (within its limits) and gain (within +-14 dB) and reports it through
// bandParametersChanged; the widget knows nothing of tracks or the engine.
// GUI thread only.
class EQVisualizationWidget : public QWidget {
    Q_OBJECT

public:
    struct Band {
        float frequency;
        float gain;
        float q;
        float minFrequency;
        float maxFrequency;
    };

    static constexpr float kMaxDragGainDb = 14.0f;
    static constexpr float kMarkerHitRadius = 12.0f;

    explicit EQVisualizationWidget(QWidget* parent = nullptr);

    void setBandParameters(int band, float frequency, float gain, float q);
    void setBandFrequencyLimits(int band, float minimum, float maximum);
    // Whether the EQ is on; the widget itself stays enabled for Qt.
    void setEnabled(bool enabled);
    bool isEqEnabled() const { return enabled_; }
    Band band(int index) const { return bands_.at(static_cast<size_t>(index)); }

    float calculateBandMagnitudeDb(int band, float frequency) const;
    float calculateMagnitudeDb(float frequency) const;
    float freqToX(float frequency) const;
    float xToFreq(float x) const;
    float dbToY(float db) const;
    float yToDb(float y) const;
    QPointF markerPosition(int band) const;
    int hitTestBandMarker(const QPointF& point) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void bandParametersChanged(int band, float freqHz, float gainDb);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static bool isBand(int band) { return band >= 0 && band < 3; }
    void updateHoverCursor(const QPointF& point);
    void paintGrid(QPainter& painter, int w, int h) const;
    void paintCurves(QPainter& painter, int w, int h) const;
    void paintMarkers(QPainter& painter) const;

    std::array<Band, 3> bands_;
    bool enabled_ = false;
    int draggedBand_ = -1;
    std::array<QColor, 3> bandColors_;
};
