// The mixer panel as a person first sees it: at the default 1024 x 768
// window and full screen, with and without auto-fit. The faders must have
// room to travel, show their cap, move in small steps under a short drag,
// and the strip names must stay apart.
#include "MainWindowTestSupport.h"

#include "ui/common/FaderSlider.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QSplitterHandle>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <cstdio>

namespace {

// How far the handle's centre can move along the groove, in pixels.
int faderTravelPx(FaderSlider& fader)
{
    QStyleOptionSlider option;
    option.initFrom(&fader);
    option.orientation = fader.orientation();
    option.minimum = fader.minimum();
    option.maximum = fader.maximum();
    option.sliderPosition = fader.sliderPosition();
    option.sliderValue = fader.value();
    option.subControls = QStyle::SC_All;
    const QRect groove = fader.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &fader);
    const QRect handle = fader.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &fader);
    return groove.height() - handle.height();
}

struct Layout {
    QSize window;
    bool autoFit;
    int tracks = 8;
};

// The scroll area that holds the track rows.
QScrollArea& trackList(const MainWindow& window)
{
    QWidget* widget = window.trackRows()[0].rowWidget;
    while (qobject_cast<QScrollArea*>(widget) == nullptr)
        widget = widget->parentWidget();
    return *qobject_cast<QScrollArea*>(widget);
}

class MixerLayoutTest : public MainWindowTest {
protected:
    MainWindow& showMixer(const Layout& layout)
    {
        resetConfig();
        seed({{"mixer.visible", true},
              {"ui.autofit_layout", layout.autoFit},
              {"window.width", layout.window.width()},
              {"window.height", layout.window.height()},
              {"track.count", layout.tracks},
              // The names that make the widest strip names.
              {"track.name.0", std::string("Boom Mic Left")},
              {"track.name.1", std::string("Wireless1")}});
        return showWindow();
    }

    MainWindow& showWindow()
    {
        MainWindow& window = makeWindow();
        window.show();
        const MainWindow::MixerStrip& first = window.mixerStrips()[0];
        EXPECT_TRUE(QTest::qWaitFor([&] { return first.fader->isVisible() && first.fader->height() > 0; }, 2000));
        // Let the queued fittings run.
        for (int round = 0; round < 5; ++round)
            QCoreApplication::processEvents();
        return window;
    }
};

void sendMouse(QWidget& widget, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

TEST_F(MixerLayoutTest, FadersTravelShowTheirCapAndNamesStayApart)
{
    struct Case {
        Layout layout;
        const char* picture;
    };
    const Case cases[] = {
        {{{1024, 768}, false}, "mixer-1024x768"},
        {{{1024, 768}, true}, "mixer-1024x768-autofit"},
        {{{1920, 1080}, false}, "mixer-1920x1080"},
        {{{1920, 1080}, true}, "mixer-1920x1080-autofit"},
    };
    std::vector<int> travels;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        MainWindow& window = showMixer(c.layout);
        keepPicture(window, c.picture);
        const auto& strips = window.mixerStrips();
        for (size_t i = 0; i < strips.size(); ++i) {
            SCOPED_TRACE(i);
            FaderSlider& fader = *strips[i].fader;
            EXPECT_GE(faderTravelPx(fader), 150);
            // The cap is drawn whole at both ends of the travel.
            ASSERT_TRUE(fader.hasCapImage());
            for (int value : {fader.minimum(), fader.maximum()}) {
                fader.setValue(value);
                EXPECT_TRUE(fader.rect().contains(fader.capRect())) << value << " cap " << fader.capRect().x() << "," << fader.capRect().y() << " " << fader.capRect().width() << "x" << fader.capRect().height() << " in " << fader.width() << "x" << fader.height();
            }
            fader.setValue(FaderSlider::kMinimumTenthsDb);
            const QLabel& name = *strips[i].nameLabel;
            EXPECT_LE(name.fontMetrics().horizontalAdvance(name.text()), name.width()) << name.text().toStdString();
            if (i > 0) {
                const QLabel& left = *strips[i - 1].nameLabel;
                const QRect leftText(left.mapTo(&window, QPoint(0, 0)), left.size());
                EXPECT_FALSE(leftText.intersects(QRect(name.mapTo(&window, QPoint(0, 0)), name.size())));
            }
        }
        travels.push_back(faderTravelPx(*strips[0].fader));
        // The track rows fit above the mixer: none is cut off or scrolled away.
        EXPECT_FALSE(trackList(window).verticalScrollBar()->isVisible());
        window_.reset();
    }
    std::printf("fader travel (px): %d, %d auto-fit at 1024x768; %d, %d auto-fit at 1920x1080\n", travels[0],
                travels[1], travels[2], travels[3]);
    EXPECT_GT(travels[2], travels[0]) << "full screen gives taller faders";
    EXPECT_GT(travels[3], travels[2]) << "auto-fit gives the mixer the rest of the window";
}

// Every strip at 8, 24 and 32 tracks, in the default window and full screen,
// with and without auto-fit: the fader travels, the name fits its strip and
// keeps off its neighbour's, and no strip or track row is out of reach.
TEST_F(MixerLayoutTest, EveryStripFitsAtEveryTrackCount)
{
    for (const int tracks : {8, 24, 32}) {
        for (const auto& screen : kScreenSizes) {
            for (const bool autoFit : {false, true}) {
                const QSize size(screen[0], screen[1]);
                const QString name = QString("mixer-%1-tracks-%2x%3%4")
                                         .arg(tracks)
                                         .arg(size.width())
                                         .arg(size.height())
                                         .arg(autoFit ? "-autofit" : "");
                SCOPED_TRACE(name.toStdString());
                MainWindow& window = showMixer({size, autoFit, tracks});
                if (tracks != 24)
                    keepPicture(window, name);
                QWidget& row = *window.mixerStrips()[0].stripWidget->parentWidget();
                QScrollArea* rowArea = nullptr;
                for (QWidget* up = &row; up != nullptr && rowArea == nullptr; up = up->parentWidget())
                    rowArea = qobject_cast<QScrollArea*>(up);
                ASSERT_NE(rowArea, nullptr);
                const int hiddenRowPx = row.width() - rowArea->viewport()->width();
                if (hiddenRowPx > 0) {
                    EXPECT_TRUE(rowArea->horizontalScrollBar()->isVisible()) << "strips cut off unseen";
                    EXPECT_GE(rowArea->horizontalScrollBar()->maximum(), hiddenRowPx);
                }
                const auto& strips = window.mixerStrips();
                ASSERT_GE(strips.size(), static_cast<size_t>(tracks));
                for (int i = 0; i < tracks; ++i) {
                    SCOPED_TRACE(i);
                    const MainWindow::MixerStrip& strip = strips[static_cast<size_t>(i)];
                    ASSERT_TRUE(strip.stripWidget->isVisible());
                    EXPECT_GE(faderTravelPx(*strip.fader), 150);
                    EXPECT_TRUE(row.rect().contains(strip.stripWidget->geometry())) << "strip outside its row";
                    EXPECT_LE(strip.pflButton->geometry().bottom(), strip.stripWidget->height() - 1)
                        << "PFL cut off at the bottom";
                    EXPECT_LE(rowArea->viewport()->height(), rowArea->height());
                    EXPECT_GE(rowArea->viewport()->height(), strip.stripWidget->height());
                    const QLabel& label = *strip.nameLabel;
                    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.text()), label.width())
                        << label.text().toStdString();
                    if (i > 0) {
                        const QLabel& left = *strips[static_cast<size_t>(i - 1)].nameLabel;
                        EXPECT_FALSE(QRect(left.mapTo(&row, QPoint(0, 0)), left.size())
                                         .intersects(QRect(label.mapTo(&row, QPoint(0, 0)), label.size())));
                    }
                }
                // Track rows beyond the list's height stay reachable.
                QScrollArea& list = trackList(window);
                const int hiddenListPx = list.widget()->height() - list.viewport()->height();
                if (hiddenListPx > 0) {
                    EXPECT_GE(list.verticalScrollBar()->maximum(), hiddenListPx) << "track rows cut off unseen";
                }
                window_.reset();
            }
        }
    }
}

// A split the person drags stays where it was put after a restart in a
// window of the same size, with or without auto-fit; choosing a layout from
// the menu fits the panes anew.
TEST_F(MixerLayoutTest, DraggedSplitIsKeptAcrossARestart)
{
    for (const bool autoFit : {false, true}) {
        for (const int tracks : {8, 32}) {
            SCOPED_TRACE(testing::Message() << tracks << (autoFit ? " tracks, auto-fit" : " tracks"));
            MainWindow& window = showMixer({{1024, 768}, autoFit, tracks});
            auto* splitter = window.findChild<QSplitter*>();
            const QList<int> fitted = splitter->sizes();
            QSplitterHandle* handle = splitter->handle(1);
            const QPoint grip = handle->rect().center();
            sendMouse(*handle, QEvent::MouseButtonPress, grip);
            sendMouse(*handle, QEvent::MouseMove, grip + QPoint(0, 30));
            sendMouse(*handle, QEvent::MouseButtonRelease, grip + QPoint(0, 30));
            QCoreApplication::processEvents();
            const QList<int> dragged = splitter->sizes();
            ASSERT_NE(dragged, fitted) << "the drag moved the splitter";
            ASSERT_EQ(ConfigManager::getInstance()->getInt("ui.split.mixer", -1), dragged.value(1)) << "stored";
            window_.reset();

            MainWindow& again = showWindow();
            EXPECT_EQ(again.findChild<QSplitter*>()->sizes(), dragged);
            // Choosing the layout again fits the panes as before the drag.
            action("&Controller", "Auto-fit Tracks + Mixer")->toggle();
            action("&Controller", "Auto-fit Tracks + Mixer")->toggle();
            QCoreApplication::processEvents();
            EXPECT_EQ(again.findChild<QSplitter*>()->sizes(), fitted);
            window_.reset();
        }
    }
}

// A short drag is a small move: 20 pixels of a 150-pixel travel, not the
// whole range from minus infinity to +6 dB.
TEST_F(MixerLayoutTest, TwentyPixelDragMovesTheFaderAFewDecibels)
{
    MainWindow& window = showMixer({{1024, 768}, false});
    FaderSlider& fader = *window.mixerStrips()[0].fader;
    const QPoint grip = fader.capRect().center();
    sendMouse(fader, QEvent::MouseButtonPress, grip);
    sendMouse(fader, QEvent::MouseMove, grip - QPoint(0, 10));
    sendMouse(fader, QEvent::MouseMove, grip - QPoint(0, 20));
    sendMouse(fader, QEvent::MouseButtonRelease, grip - QPoint(0, 20));
    const int movedTenthsDb = fader.value() - FaderSlider::kMinimumTenthsDb;
    EXPECT_GT(movedTenthsDb, 0) << "the drag moved the fader";
    EXPECT_LE(movedTenthsDb, 100) << "at most 10 dB for 20 pixels";
}

} // namespace
