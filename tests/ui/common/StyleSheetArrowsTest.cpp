// The arrows of combo boxes and spin boxes under the window's dark sheet
// are triangles in the text colour, not bars: each painted row of an arrow
// is narrower towards its tip.
#include "ui/common/Theme.h"

#include <QComboBox>
#include <QImage>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

// The number of light (text-coloured) pixels in each row of `area` of
// `image` that has any, top to bottom.
std::vector<int> lightPixelsPerRow(const QImage& image, const QRect& area)
{
    std::vector<int> rows;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int count = 0;
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y).lightness() > 150 ? 1 : 0;
        if (count > 0)
            rows.push_back(count);
    }
    return rows;
}

TEST(StyleSheetArrowsTest, ComboAndSpinBoxArrowsAreTrianglesPointingTheirWay)
{
    QWidget window;
    window.setStyleSheet(darkWindowStyleSheet());
    auto* layout = new QVBoxLayout(&window);
    auto* combo = new QComboBox(&window);
    combo->addItems({"One", "Two"});
    auto* spin = new QSpinBox(&window);
    layout->addWidget(combo);
    layout->addWidget(spin);
    window.resize(240, 120);
    window.show();
    const QImage comboImage = combo->grab().toImage();
    const QImage spinImage = spin->grab().toImage();

    struct Case {
        const char* arrow;
        QImage image;
        QRect area;  // where the arrow is drawn, clear of the text
        bool pointsDown;
    };
    const int spinMiddle = spinImage.height() / 2;
    const Case cases[] = {
        {"combo down", comboImage, QRect(comboImage.width() - 30, 2, 28, comboImage.height() - 4), true},
        {"spin up", spinImage, QRect(spinImage.width() - 18, 2, 16, spinMiddle - 2), false},
        {"spin down", spinImage, QRect(spinImage.width() - 18, spinMiddle, 16, spinMiddle - 2), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arrow);
        const std::vector<int> rows = lightPixelsPerRow(c.image, c.area);
        ASSERT_GE(rows.size(), 3u) << "no arrow drawn";
        const int base = c.pointsDown ? rows.front() : rows.back();
        const int tip = c.pointsDown ? rows.back() : rows.front();
        EXPECT_GE(base, 6) << "the base spans the arrow's width";
        EXPECT_LE(tip, base - 4) << "the rows narrow to a tip, as a triangle's do";
    }
}

} // namespace
