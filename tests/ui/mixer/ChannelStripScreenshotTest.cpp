// The channel strip at its initial size with the EQ on, bands moved and a
// marker dragged: grabbed for a look (TONVALE_SCREENSHOT_DIR) and checked
// for the parts a recordist reads.

#include "MixerTestSupport.h"

#include "support/TempHome.h"
#include "support/WidgetLegibility.h"
#include "ui/common/ScreenFit.h"
#include "ui/mixer/ChannelStripDialog.h"
#include "ui/mixer/EQVisualizationWidget.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTest>

namespace {

class ChannelStripScreenshotTest : public TempHomeTest {
protected:
    StripClipboard clipboard_;
};

TEST_F(ChannelStripScreenshotTest, EqOnBandsMovedAndAMarkerDragged)
{
    ChannelStripDialog dialog(11, "Boom Left", nullptr, clipboard_);
    dialog.show();
    // Its own size where the screen has room for it.
    EXPECT_EQ(dialog.size(), QSize(750, 850).boundedTo(roomOnScreen(dialog)));
    QTest::mouseClick(dialog.findChild<QCheckBox*>("eqCheck"), Qt::LeftButton, {}, QPoint(8, 8));
    dialog.findChild<QSlider*>("eq.mid.gain")->setValue(-45);
    dialog.findChild<QSlider*>("eq.mid.q")->setValue(20);
    dialog.findChild<QSlider*>("eq.high.gain")->setValue(60);
    dialog.findChild<QSlider*>("hpfSlider")->setValue(120);
    dialog.findChild<QSlider*>("aux2Send")->setValue(35);
    auto* curve = dialog.findChild<EQVisualizationWidget*>();
    const QPoint low = curve->markerPosition(0).toPoint();
    QTest::mousePress(curve, Qt::LeftButton, {}, low);
    QTest::mouseMove(curve, low + QPoint(20, -curve->height() / 5));
    const QImage image = grabAndKeep(&dialog, "channel-strip");
    QTest::mouseRelease(curve, Qt::LeftButton, {}, low + QPoint(20, -curve->height() / 5));
    EXPECT_GT(dialog.findChild<QSlider*>("eq.low.gain")->value(), 0);
    EXPECT_GT(dialog.findChild<QSlider*>("eq.low.freq")->value(), 100);
    EXPECT_EQ(image.size(), dialog.size() * image.devicePixelRatio());
    // Every value label shows its whole text.
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->isVisible() && label->toolTip() == "Click to edit, Ctrl+Click to reset") {
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
        }
    }
}

// The copy, paste and reset buttons and the group titles carry symbols that
// DejaVu lacks: an installed font must draw them, not empty boxes.
TEST_F(ChannelStripScreenshotTest, EverySymbolShownHasAGlyph)
{
    ChannelStripDialog dialog(3, "Plant", nullptr, clipboard_);
    for (const auto& [width, height] : kScreenSizes)
        grabAtSize(dialog, "channel-strip", width, height);
    const QStringList boxes = textsWithoutGlyphs(dialog);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

}  // namespace
