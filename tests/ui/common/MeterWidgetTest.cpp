// A meter paints with the style it is given: its bar colours, armed or not,
// and the peak line's colour by the zone the peak sits in, zones starting
// where the style says.

#include "ui/common/MeterWidget.h"
#include "ui/common/Theme.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

namespace {

// Flat colours and no gloss, so every pixel reads back exactly.
Theme::MeterStyle flatStyle(float cautionFrom, float alertFrom)
{
    return Theme::MeterStyle{
        "#000000",
        {{0.0, "#101010"}, {1.0, "#101010"}},
        {{0.0, "#00ff00"}, {1.0, "#00ff00"}},
        {{0.0, "#404040"}, {1.0, "#404040"}},
        {{0.0, "#00000000"}, {1.0, "#00000000"}},
        cautionFrom,
        alertFrom,
        "#0000ff",
        "#ffff00",
        "#ff0000",
    };
}

constexpr int kWidth = 202; // 200 pixels of bar between the 1-pixel rims
constexpr int kHeight = 16;

QImage paint(const Theme::MeterStyle& style, int value, bool armed)
{
    MeterWidget meter;
    meter.setMeterStyle(style);
    meter.setArmed(armed);
    meter.resize(kWidth, kHeight);
    meter.setValue(value);
    return meter.grab().toImage();
}

QColor peakLineColour(const QImage& image, int value)
{
    const int x = static_cast<int>(static_cast<float>(value) / 1000.0f * (kWidth - 2));
    return image.pixelColor(x + 1, kHeight / 2);
}

} // namespace

TEST(MeterWidgetTest, BarTakesTheStylesArmedOrUnarmedColours)
{
    const Theme::MeterStyle style = flatStyle(0.4f, 0.7f);
    EXPECT_EQ(paint(style, 600, true).pixelColor(20, kHeight / 2), QColor("#00ff00"));
    EXPECT_EQ(paint(style, 600, false).pixelColor(20, kHeight / 2), QColor("#404040"));
    // Past the bar's end, the trough shows.
    EXPECT_EQ(paint(style, 100, true).pixelColor(150, kHeight / 2), QColor("#101010"));
}

TEST(MeterWidgetTest, PeakLineTakesTheColourOfTheZoneTheStyleNames)
{
    const struct {
        float cautionFrom;
        float alertFrom;
        int value;
        const char* expected;
    } cases[] = {
        {0.4f, 0.7f, 200, "#0000ff"},
        {0.4f, 0.7f, 500, "#ffff00"},
        {0.4f, 0.7f, 900, "#ff0000"},
        // Zones moved: the same peaks fall in other zones.
        {0.6f, 0.95f, 500, "#0000ff"},
        {0.6f, 0.95f, 900, "#ffff00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " with zones from " << c.cautionFrom << ", " << c.alertFrom);
        EXPECT_EQ(peakLineColour(paint(flatStyle(c.cautionFrom, c.alertFrom), c.value, true), c.value),
                  QColor(c.expected));
    }
}

TEST(MeterWidgetTest, StandardStyleKeepsItsZonesInOrder)
{
    const Theme::MeterStyle& style = Theme::standardMeterStyle();
    EXPECT_LT(0.0f, style.peakCautionFrom);
    EXPECT_LT(style.peakCautionFrom, style.peakAlertFrom);
    EXPECT_LT(style.peakAlertFrom, 1.0f);
    for (const auto* stops : {&style.trough, &style.armed, &style.unarmed, &style.gloss}) {
        ASSERT_FALSE(stops->empty());
        EXPECT_EQ(stops->front().position, 0.0);
        EXPECT_EQ(stops->back().position, 1.0);
        for (const Theme::ColourStop& stop : *stops)
            EXPECT_TRUE(QColor(stop.colour).isValid()) << stop.colour;
    }
}
