// Meters, the frame-rate badge's menu and the automix shares: the level law
// and the meter's fall and peak hold as figures, a grabbed meter's fill and
// colours, and live on the stepped virtual interface the track meters, a
// forced frame rate and the automix share readouts.

#include "MainWindowTestSupport.h"

#include "engine/AudioEngine_CoreAudio.h"
#include "engine/render/AutomixEngine.h"
#include "ui/common/MeterWidget.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <limits>

namespace {

constexpr uint32_t kBlock = 256;

TEST(MeterWidgetTest, LevelLawPutsZeroDbAt866)
{
    struct Case {
        float peak;
        int value;
    };
    const Case cases[] = {{1.0f, 866},     {2.0f, 1000},  {0.001f, 0},      {0.0f, 0},       {-0.5f, 0},
                          {1e-11f, 0},     {0.1f, 471},   {0.501187f, 740}, {0.251189f, 620},
                          {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const Case& c : cases)
        EXPECT_EQ(MeterWidget::valueForPeak(c.peak), c.value) << c.peak;
}

TEST(MeterWidgetTest, BarFallsTwelvePercentAndThePeakHoldsThirtyUpdates)
{
    MeterWidget meter;
    meter.setValue(1000);
    EXPECT_EQ(meter.displayedLevel(), 1000.0f);
    EXPECT_EQ(meter.peak(), 1000);
    EXPECT_EQ(meter.peakHoldCount(), 30);

    for (int update = 1; update <= 60; ++update) {
        SCOPED_TRACE(update);
        meter.setValue(0);
        const double expected = 1000.0 * std::pow(0.88, update);
        if (update < 60)
            EXPECT_NEAR(meter.displayedLevel(), expected, expected * 1e-4);
        else
            EXPECT_EQ(meter.displayedLevel(), 0.0f) << "snaps to 0 once within half a unit";
        if (update <= 30) {
            EXPECT_EQ(meter.peak(), 1000);
            EXPECT_EQ(meter.peakHoldCount(), 30 - update);
        } else {
            EXPECT_EQ(meter.peak(), 1000 - 12 * (update - 30));
        }
    }
    EXPECT_EQ(meter.peak(), 640);

    // A rise catches the falling peak: it stops at the value and holds again.
    meter.setValue(650);
    EXPECT_EQ(meter.peak(), 650);
    EXPECT_EQ(meter.peakHoldCount(), 30);
    EXPECT_EQ(meter.displayedLevel(), 650.0f) << "the bar jumps up at once";
    for (int update = 0; update < 30; ++update)
        meter.setValue(645);
    EXPECT_EQ(meter.peak(), 650);
    meter.setValue(645);
    EXPECT_EQ(meter.peak(), 645) << "a falling peak stops at the value";

    meter.setValue(2000);
    EXPECT_EQ(meter.value(), 1000);
    meter.setValue(-5);
    EXPECT_EQ(meter.value(), 0);
}

// A meter 202 pixels wide: its trough is 200, so the fill is value / 5 long.
TEST(MeterWidgetTest, GrabShowsTheFillLengthAndColoursOfItsValue)
{
    const auto isTrough = [](const QColor& c) { return c.red() < 32 && c.green() < 32 && c.blue() < 40; };
    for (bool armed : {true, false}) {
        SCOPED_TRACE(armed);
        MeterWidget meter;
        meter.resize(202, 16);
        meter.setArmed(armed);
        meter.setValue(500);
        const QImage image = meter.grab().toImage();
        if (const QString folder = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR"); !folder.isEmpty())
            image.save(QDir(folder).filePath(QString("meter-%1.png").arg(armed ? "armed" : "unarmed")));
        const int middle = image.height() / 2;
        // The last column of the fill, left of the peak line.
        int lastFilled = 0;
        for (int x = 1; x < image.width() - 1; ++x) {
            if (!isTrough(image.pixelColor(x, middle)))
                lastFilled = x;
        }
        const QColor low = image.pixelColor(20, middle);
        const QColor mid = image.pixelColor(95, middle);
        if (armed) {
            // Fill to x = 100, the 2-pixel peak line at 101.
            EXPECT_EQ(lastFilled, 101);
            EXPECT_GT(low.green(), 170);
            EXPECT_LT(low.red(), 40) << "the low end is green";
            EXPECT_GT(mid.red(), 100);
            EXPECT_GT(mid.green(), 180) << "the middle is yellow-green";
            const QColor peak = image.pixelColor(101, middle);
            EXPECT_GT(peak.red(), 200);
            EXPECT_GT(peak.green(), 200) << "a peak at 500 is yellow";
            EXPECT_TRUE(isTrough(image.pixelColor(104, middle)));
        } else {
            EXPECT_EQ(lastFilled, 100);
            for (const QColor& grey : {low, mid}) {
                EXPECT_LE(std::abs(grey.red() - grey.green()), 2);
                EXPECT_GE(grey.red(), 32);
                EXPECT_LE(grey.red(), 48);
            }
        }
    }
}

class MainWindowMetersTest : public MainWindowTest {
protected:
    MainWindow& makeDeviceWindow(std::vector<std::pair<std::string, Value>> keys = {})
    {
        keys.emplace_back("audio.device", std::string("Virtual Interface"));
        seed(keys);
        return makeWindow();
    }
    AudioEngine_CoreAudio* coreEngine() const { return dynamic_cast<AudioEngine_CoreAudio*>(window_->engine()); }

    // Opens the badge's menu, notes the checked rows and picks `choice`
    // (none when empty).
    QStringList runRateMenu(const QString& choice)
    {
        QStringList checked;
        bool seen = false;
        QTimer::singleShot(20, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr)
                return;
            seen = true;
            for (QAction* action : menu->actions()) {
                if (action->isChecked())
                    checked << action->text();
                if (action->text() == choice)
                    action->trigger();
            }
            menu->close();
        });
        window_->onFramerateContextMenu(QPoint(2, 2));
        EXPECT_TRUE(seen) << "the menu opened";
        return checked;
    }
};

TEST_F(MainWindowMetersTest, TrackMetersShowTheToneAndSilence)
{
    MainWindow& window = makeDeviceWindow({{"track.input.0", std::string("Tone 440 Hz -12 dB")},
                                           {"track.input.1", std::string("Silence")},
                                           {"arm.0", true}});
    ASSERT_TRUE(audio_->renderBlocks(40, kBlock));
    for (int tick = 0; tick < 5; ++tick) {
        window.updateMeters();
        ASSERT_TRUE(audio_->renderBlocks(4, kBlock));
    }
    window.updateMeters();
    EXPECT_NEAR(window.trackRows()[0].meter->value(), 620, 5);
    EXPECT_EQ(window.trackRows()[1].meter->value(), 0);
    EXPECT_TRUE(window.trackRows()[0].meter->isArmed());
    EXPECT_FALSE(window.trackRows()[1].meter->isArmed());
}

TEST_F(MainWindowMetersTest, ForcedRateFromTheBadgeTurnsItYellowAndIsStored)
{
    MainWindow& window = makeDeviceWindow();
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_TRUE(runRateMenu("25").isEmpty()) << "nothing is checked while nothing is forced";
    EXPECT_DOUBLE_EQ(window.engine()->getForcedFramerate(), 25.0);
    window.updateTimecode();
    EXPECT_EQ(window.framerateLabel()->text(), QString("25"));
    EXPECT_TRUE(window.framerateLabel()->styleSheet().contains("#ffcc00"));
    EXPECT_FLOAT_EQ(config->getFloat("ltc.forcedFramerate", 0.0f), 25.0f);
    EXPECT_FALSE(config->getBool("ltc.forcedDropFrame", true));

    struct Case {
        const char* choice;
        bool dropFrame;
    };
    for (const Case& c : {Case{"29.97 DF", true}, Case{"29.97 NDF", false}, Case{"23.976", false}}) {
        SCOPED_TRACE(c.choice);
        runRateMenu(c.choice);
        EXPECT_EQ(config->getBool("ltc.forcedDropFrame", !c.dropFrame), c.dropFrame);
        EXPECT_EQ(runRateMenu(QString()), QStringList{c.choice});
    }
    EXPECT_FLOAT_EQ(config->getFloat("ltc.forcedFramerate", 0.0f), 23.976f);

    // Without an engine the call returns at once; a menu would block it
    // until the timer finds it open and closes it.
    window.dropEngineForTest();
    bool looked = false;
    bool menuShown = false;
    QTimer closer;
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menuShown = true;
            menu->close();
        }
        looked = true;
    });
    closer.start(50);
    window.onFramerateContextMenu(QPoint(2, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return looked; }, 2000));
    EXPECT_FALSE(menuShown) << "no menu without an engine";
}

TEST_F(MainWindowMetersTest, AutomixSharesReadAsPercentagesInThreeColours)
{
    struct Case {
        float share;
        const char* text;
        const char* colour;
    };
    const Case cases[] = {{0.805f, "80%", "#ff4"}, {0.81f, "81%", "#4f4"}, {0.004f, "", ""},
                          {0.5f, "50%", "#888"},   {0.51f, "51%", "#ff4"}, {1.0f, "100%", "#4f4"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.share);
        const MainWindow::AutomixShareText shown = MainWindow::automixShareText(c.share);
        EXPECT_EQ(shown.text, QString(c.text));
        if (*c.colour == '\0')
            EXPECT_TRUE(shown.styleSheet.isEmpty()) << "an empty readout keeps its style";
        else
            EXPECT_EQ(shown.styleSheet, QString("QLabel { color: %1; font-size: 9px; }").arg(c.colour));
    }

    // Live: two armed tracks of one group share the gain, the louder most.
    MainWindow& window = makeDeviceWindow({{"track.input.0", std::string("Tone 440 Hz -12 dB")},
                                           {"track.input.1", std::string("Tone 100 Hz -30 dB")},
                                           {"arm.0", true},
                                           {"arm.1", true},
                                           {"arm.2", true},
                                           {"automix.0", 1},
                                           {"automix.1", 1}});
    window.updateAutomixUiState();
    ASSERT_TRUE(audio_->renderBlocks(400, kBlock));
    window.updateAutomixIndicators();
    const QString loud = window.trackRows()[0].automixShareLabel->text();
    const QString quiet = window.trackRows()[1].automixShareLabel->text();
    ASSERT_TRUE(loud.endsWith('%')) << loud.toStdString();
    EXPECT_GT(loud.chopped(1).toInt(), quiet.isEmpty() ? 0 : quiet.chopped(1).toInt());
    EXPECT_TRUE(window.trackRows()[2].automixShareLabel->text().isEmpty()) << "a track in no group shows nothing";
    const float share = coreEngine()->getAutomixEngine()->getTrackNOMContribution(0);
    EXPECT_EQ(loud, MainWindow::automixShareText(share).text);
}

} // namespace
