// The fader cap is drawn on the handle: grabbed at the bottom, at 0 dB and
// at the top, the cap's white centre line sits on the handle's centre.
// Needs "fader.png" beside the executable (the grab binary has it).

#include "ui/common/FaderSlider.h"
#include "ui/common/Theme.h"
#include "support/WidgetLegibility.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Reads the handle rectangle the way the style places it.
class ProbeSlider : public FaderSlider {
public:
    using FaderSlider::FaderSlider;
    QRect handleRect() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    }
};

// The bounding box of the nearly white pixels.
QRect whiteBox(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.red() >= 230 && colour.green() >= 230 && colour.blue() >= 230)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

TEST(FaderSliderGrab, CapIsCentredOnTheHandleAtEveryPosition)
{
    QWidget holder;
    holder.setStyleSheet("background-color: #1e1e1e;");
    auto* layout = new QVBoxLayout(&holder);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* slider = new ProbeSlider(Qt::Vertical, &holder);
    slider->setRange(FaderSlider::kMinimumTenthsDb, FaderSlider::kMaximumTenthsDb);
    slider->setCapSize(40, 70);
    slider->setStyleSheet(faderStyleSheet(35, 40, 70, 35, 17));
    slider->setFixedWidth(60);
    layout->addWidget(slider);
    holder.resize(70, 360);
    holder.show();
    ASSERT_TRUE(slider->hasCapImage()) << "fader.png is missing beside the test";

    int previousCentre = 1 << 30;
    for (int value : {-600, 0, 60}) {
        SCOPED_TRACE(value);
        slider->setValue(value);
        const QImage image = slider->grab().toImage();
        EXPECT_TRUE(keepPicture(*slider, QString("fader-cap-%1").arg(value)));
        const QRect handle = slider->handleRect();
        const QRect white = whiteBox(image);
        ASSERT_FALSE(white.isEmpty());
        // The line runs across the cap's middle: 52 of the image's 60 pixels.
        EXPECT_NEAR(white.center().y(), handle.center().y(), 1.5);
        EXPECT_NEAR(white.center().x(), handle.center().x(), 1.5);
        EXPECT_NEAR(white.width(), 40 * 52 / 60, 3);
        EXPECT_LE(white.height(), 4);
        EXPECT_EQ(slider->capRect().size(), QSize(40, 70));
        EXPECT_EQ(slider->capRect().center(), handle.center());
        EXPECT_LT(handle.center().y(), previousCentre) << "higher values sit higher";
        previousCentre = handle.center().y();
    }
}

} // namespace
