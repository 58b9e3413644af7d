#include "MainWindowTestSupport.h"

#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"

#include <QLineEdit>
#include <QScrollArea>
#include <QTest>

namespace {

TEST_F(MainWindowTest, TrackRowsFitTheViewportByTheFigures)
{
    struct Case {
        int tracks;
        int viewportPx;
        int rowPx;
        int meterPx;
        QSize nameEdit;
        int startTracks; // the count the window starts with, changed to `tracks` once shown
    };
    // The viewports hold the rows and the 2-pixel gaps between them.
    const Case cases[] = {
        {32, 900, 34, 14, QSize(100, 30), 32},
        {8, 100, 26, 11, QSize(75, 22), 8},
        {16, 6 + 15 * 2 + 16 * 28, 28, 12, QSize(85, 24), 16},
        // 24 tracks: 16 in the left column, which is the one that must fit.
        {24, 6 + 15 * 2 + 16 * 30, 30, 14, QSize(100, 26), 24},
        // The rows hidden by going down to 8 are kept but take no room.
        {8, 6 + 7 * 2 + 8 * 30, 30, 14, QSize(100, 26), 8},
        {8, 6 + 7 * 2 + 8 * 30, 30, 14, QSize(100, 26), 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.startTracks) + " -> " + std::to_string(c.tracks));
        resetConfig();
        seed({{"track.count", c.startTracks}});
        MainWindow& window = makeWindow();
        auto* scroll = window.findChild<QScrollArea*>();
        scroll->setFixedHeight(c.viewportPx);
        window.resize(1600, 1500);
        window.show();
        if (c.tracks != c.startTracks)
            window.rebuildTracksForTest(c.tracks, {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return scroll->viewport()->height() == c.viewportPx; }, 2000))
            << "viewport height: " << scroll->viewport()->height();
        window.updateTrackListScaling();
        ASSERT_GE(window.trackRows().size(), static_cast<size_t>(c.tracks));
        for (int track = 0; track < c.tracks; ++track) {
            const MainWindow::TrackRow& row = window.trackRows()[static_cast<size_t>(track)];
            EXPECT_EQ(row.rowWidget->height(), c.rowPx);
            EXPECT_EQ(row.meter->maximumHeight(), c.meterPx);
            EXPECT_EQ(row.nameEdit->maximumSize(), c.nameEdit);
        }
        window_.reset();
    }
}

TEST_F(MainWindowTest, StripWidthFollowsAutoFitOrTheThirtyTwoStripGrid)
{
    struct Case {
        bool autoFit;
        int containerPx;
        int stripPx;
    };
    const Case cases[] = {{true, 1930, 220}, {false, 1930, 60}, {false, 4810, 150}, {true, 300, 40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.containerPx);
        resetConfig();
        seed({{"mixer.visible", true}, {"ui.autofit_layout", c.autoFit}});
        MainWindow& window = makeWindow();
        // The strip row's scroll area: its width is what the strips share.
        QWidget* strips = window.mixerStrips()[0].stripWidget->parentWidget();
        while (qobject_cast<QScrollArea*>(strips) == nullptr)
            strips = strips->parentWidget();
        strips->setFixedWidth(c.containerPx);
        window.resize(std::max(c.containerPx + 40, 1100), 1000);
        window.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return strips->width() == c.containerPx; }, 2000))
            << "strip container width: " << strips->width();
        window.updateMixerFaderSizes();
        for (const auto& strip : window.mixerStrips())
            EXPECT_EQ(strip.stripWidget->maximumWidth(), c.stripPx);
        window_.reset();
    }
}

} // namespace
