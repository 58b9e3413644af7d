// The EQ curve: its band formula against worked figures, where the markers
// sit, and dragging a marker with the mouse within the band's limits.

#include "ui/mixer/EQVisualizationWidget.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct BandCase {
    const char* name;
    float centreHz, gainDb, q, atHz, expectedDb;
};

TEST(EQVisualizationWidgetTest, BandFormulaMatchesTheWorkedFigures)
{
    const BandCase cases[] = {
        {"at the centre", 100, 12, 1, 100, 12},
        {"one octave up", 100, 12, 1, 200, 12.0f / (1 + 1.5f * 1.5f)},
        {"one octave down, symmetric", 100, 12, 1, 50, 12.0f / (1 + 1.5f * 1.5f)},
        {"narrower with q 4", 1000, -6, 4, 2000, -6.0f / (1 + 16 * 2.25f)},
        {"gain below 0.01 contributes nothing", 1000, 0.005f, 1, 1000, 0},
        {"0 Hz never divides by zero", 100, 6, 1, 0, 6.0f / (1 + (0.001f - 1000) * (0.001f - 1000))},
    };
    EQVisualizationWidget widget;
    widget.setEnabled(true);
    for (const BandCase& c : cases) {
        SCOPED_TRACE(c.name);
        widget.setBandParameters(1, c.centreHz, c.gainDb, c.q);
        EXPECT_NEAR(widget.calculateBandMagnitudeDb(1, c.atHz), c.expectedDb, 1e-3);
    }
    EXPECT_EQ(widget.calculateBandMagnitudeDb(3, 100), 0.0f);
    widget.setBandParameters(1, 1000, 0, 0.01f);
    EXPECT_FLOAT_EQ(widget.band(1).q, 0.1f);
}

TEST(EQVisualizationWidgetTest, TotalIsTheSumAndZeroWhenOff)
{
    EQVisualizationWidget widget;
    widget.setBandParameters(0, 100, 12, 1);
    widget.setBandParameters(1, 1000, 0.05f, 1);
    EXPECT_EQ(widget.calculateMagnitudeDb(100), 0.0f) << "the EQ starts off";
    widget.setEnabled(true);
    EXPECT_NEAR(widget.calculateMagnitudeDb(100),
                12 + widget.calculateBandMagnitudeDb(1, 100) + widget.calculateBandMagnitudeDb(2, 100), 1e-5);
    EXPECT_GT(widget.calculateBandMagnitudeDb(1, 1000), 0.04f) << "0.05 dB still shifts the sum";
}

TEST(EQVisualizationWidgetTest, MarkersSitOnTheSummedCurve)
{
    EQVisualizationWidget widget;
    widget.resize(600, 200);
    widget.setEnabled(true);
    const double expectedX[] = {0.2330, 0.5663, 0.7993};
    for (int band = 0; band < 3; ++band) {
        EXPECT_NEAR(widget.markerPosition(band).x(), 600 * expectedX[band], 0.1);
        EXPECT_NEAR(widget.markerPosition(band).y(), 100, 1e-3);
    }
    widget.setBandParameters(0, 100, 12, 1);
    EXPECT_NEAR(widget.markerPosition(0).y(), 200 * 0.1, 0.05);
    EXPECT_NEAR(widget.xToFreq(widget.freqToX(1234)), 1234, 0.1);
    EXPECT_NEAR(widget.yToDb(widget.dbToY(-7.5f)), -7.5, 1e-4);
    EXPECT_EQ(widget.freqToX(5), 0.0f) << "below 20 Hz is drawn at the left edge";
}

TEST(EQVisualizationWidgetTest, HitTestPicksTheLowerBandAndNothingWhenOff)
{
    EQVisualizationWidget widget;
    widget.resize(600, 200);
    widget.setBandParameters(0, 400, 0, 1);
    widget.setBandParameters(1, 420, 0, 1);
    const QPointF between = (widget.markerPosition(0) + widget.markerPosition(1)) / 2;
    EXPECT_EQ(widget.hitTestBandMarker(between), -1) << "off: nothing can be hit";
    widget.setEnabled(true);
    EXPECT_EQ(widget.hitTestBandMarker(between), 0);
    EXPECT_EQ(widget.hitTestBandMarker(widget.markerPosition(2) + QPointF(12, 0)), 2);
    EXPECT_EQ(widget.hitTestBandMarker(widget.markerPosition(2) + QPointF(12.5, 0)), -1);
}

TEST(EQVisualizationWidgetTest, DraggingClampsToTheBandLimitsAndFourteenDb)
{
    EQVisualizationWidget widget;
    widget.resize(600, 200);
    widget.setBandFrequencyLimits(1, 200, 5000);
    widget.setEnabled(true);
    widget.show();
    QSignalSpy changed(&widget, &EQVisualizationWidget::bandParametersChanged);
    QTest::mousePress(&widget, Qt::LeftButton, {}, widget.markerPosition(1).toPoint());
    EXPECT_EQ(widget.cursor().shape(), Qt::ClosedHandCursor);
    QTest::mouseMove(&widget, QPoint(1, 1));  // far left, top (QPoint(0, 0) would mean the centre)
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toInt(), 1);
    EXPECT_FLOAT_EQ(changed[0][1].toFloat(), 200.0f);
    EXPECT_FLOAT_EQ(changed[0][2].toFloat(), 14.0f);
    QTest::mouseMove(&widget, QPoint(599, 199));  // right, bottom
    EXPECT_FLOAT_EQ(changed[1][1].toFloat(), 5000.0f);
    EXPECT_FLOAT_EQ(changed[1][2].toFloat(), -14.0f);
    EXPECT_FLOAT_EQ(widget.band(1).gain, -14.0f);
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, QPoint(599, 199));
    QTest::mouseMove(&widget, QPoint(300, 20));
    EXPECT_EQ(changed.count(), 2) << "a move after the release drags nothing";
}

}  // namespace
