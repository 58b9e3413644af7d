// Real keys: the program's application object and window on an X server of
// their own (Xvfb), typed by xdotool with the server's real key repeat. A
// held Space must start exactly one take about 600 ms after it went down,
// whatever the keyboard's repeat does meanwhile; a brushed key nothing; keys
// typed into a field must stay text. The binary starts its own server (the
// repeat delay and interval are passed with --xvfb-repeat=DELAY,INTERVAL)
// and stops it at exit; without Xvfb or xdotool every case skips visibly.

#include "app/TonvaleApplication.h"
#include "support/ExternalTool.h"
#include "support/GuiLatenessProbe.h"
#include "support/XvfbServer.h"
#include "ui/mainwindow/EngineDouble.h"
#include "ui/mainwindow/HotkeysDialog.h"
#include "ui/mainwindow/MainWindowTestSupport.h"

#include <QAbstractNativeEventFilter>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

std::string gSkipReason;
QString gXdotool;

// Every key press and release as the program takes it off its X connection,
// before Qt (or the application object's hook) handles it: the server's time
// stamp and the moment it arrived here. Times are counted from here, not from
// when xdotool was started, so a slow build (sanitizers) does not shift them.
class KeyArrivals : public QAbstractNativeEventFilter {
public:
    struct Arrival {
        bool press;
        uint8_t keycode;
        uint32_t serverMs;
        EngineDouble::Clock::time_point at;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t kind = event->response_type & 0x7f;
        if (kind == XCB_KEY_PRESS || kind == XCB_KEY_RELEASE) {
            const auto* key = static_cast<const xcb_key_press_event_t*>(message);
            arrivals.push_back({kind == XCB_KEY_PRESS, key->detail, key->time, EngineDouble::Clock::now()});
        }
        return false;
    }

    std::vector<Arrival> arrivals;
};

KeyArrivals gKeyArrivals;

class HotkeysX11Test : public MainWindowTest {
protected:
    void SetUp() override
    {
        if (!gSkipReason.empty())
            GTEST_SKIP() << "SKIPPED: " << gSkipReason << "; the real-key checks did not run";
        MainWindowTest::SetUp();
        EngineDouble::install(audio_);
    }

    void TearDown() override
    {
        if (!gSkipReason.empty())
            return;
        if (window_)
            xdotool({"keyup", "space", "ctrl", "shift", "s", "c", "KP_Enter"});
        MainWindowTest::TearDown();
        EngineDouble::uninstall();
    }

    MainWindow& makeActiveWindow()
    {
        HotkeysDialog::loadFromConfig();
        MainWindow& window = makeWindow();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        xdotool({"mousemove", QString::number(window.geometry().center().x()),
                 QString::number(window.geometry().center().y())});
        window.setFocus();
        QTest::qWait(50);
        // What the restore told the engine is not the keys' doing.
        engine().calls.clear();
        return window;
    }

    EngineDouble& engine() const { return *dynamic_cast<EngineDouble*>(window_->engine()); }
    size_t starts() const { return engine().starts.size(); }
    size_t stops() const { return engine().stops.size(); }

    static void xdotool(const QStringList& arguments)
    {
        const ToolResult result = runTool(gXdotool, arguments, 10000);
        EXPECT_EQ(result.exitCode, 0) << result.standardError.toStdString();
    }

    // Holds `keys` (xdotool's names, "ctrl+space") for `holdMs` and lets
    // them go, with the event loop running; returns once the release has
    // arrived. One xdotool run presses, waits and releases, so the hold is
    // `holdMs` of the server's time however slowly this process runs.
    // Returns the moment the chord's last key arrived here.
    EngineDouble::Clock::time_point hold(const QString& keys, int holdMs)
    {
        const size_t first = gKeyArrivals.arrivals.size();
        const std::int64_t queuedBeforeNs = threadRunQueueNs();
        QProcess typist;
        typist.start(gXdotool, {"keydown", keys, "sleep", QString::number(holdMs / 1000.0), "keyup", keys});
        EXPECT_TRUE(QTest::qWaitFor([&typist] { return typist.state() == QProcess::NotRunning; }, holdMs + 10000));
        EXPECT_EQ(typist.exitCode(), 0) << typist.readAllStandardError().toStdString();
        // The chord's last key is the n-th distinct key pressed; its release
        // (not an automatic repeat's) comes at least `holdMs` after its press.
        const size_t chordKeys = static_cast<size_t>(keys.count('+')) + 1;
        const KeyArrivals::Arrival* mainPress = nullptr;
        bool released = false;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                std::vector<uint8_t> pressed;
                mainPress = nullptr;
                released = false;
                const auto& arrivals = gKeyArrivals.arrivals;
                for (size_t index = first; index < arrivals.size(); ++index) {
                    const KeyArrivals::Arrival& arrival = arrivals[index];
                    if (mainPress == nullptr && arrival.press &&
                        std::find(pressed.begin(), pressed.end(), arrival.keycode) == pressed.end()) {
                        pressed.push_back(arrival.keycode);
                        if (pressed.size() == chordKeys)
                            mainPress = &arrival;
                    } else if (mainPress != nullptr && !arrival.press && arrival.keycode == mainPress->keycode &&
                               arrival.serverMs - mainPress->serverMs + 1 >= static_cast<uint32_t>(holdMs)) {
                        released = true;
                    }
                }
                return released;
            },
            5000))
            << keys.toStdString() << " was not seen pressed and released";
        const std::int64_t queuedAfterNs = threadRunQueueNs();
        lastHoldQueuedMs_ = queuedBeforeNs < 0 || queuedAfterNs < 0 ? 0 : (queuedAfterNs - queuedBeforeNs) / 1000000;
        return mainPress != nullptr ? mainPress->at : EngineDouble::Clock::now();
    }

    // How long the last hold's GUI thread stood ready to run while other
    // processes had the cores: a timer can be that much later through no
    // fault of ours.
    long long lastHoldQueuedMs_ = 0;

    static long long msBetween(EngineDouble::Clock::time_point from, EngineDouble::Clock::time_point to)
    {
        return static_cast<long long>(duration_cast<milliseconds>(to - from).count());
    }
};

TEST_F(HotkeysX11Test, HeldSpaceStartsOneTakeAtAbout600Ms)
{
    MainWindow& window = makeActiveWindow();
    const auto pressedAt = hold("space", 700);
    ASSERT_EQ(starts(), 1u);
    const long long afterMs = msBetween(pressedAt, engine().starts[0]);
    EXPECT_GE(afterMs, 560);
    EXPECT_LE(afterMs, 690 + lastHoldQueuedMs_) << "of which " << lastHoldQueuedMs_ << " ms the machine's load";
    EXPECT_TRUE(window.isRecording());
    // The repeats of a longer hold start nothing more.
    hold("space", 1000);
    EXPECT_EQ(starts(), 1u);
    EXPECT_EQ(stops(), 0u);
}

TEST_F(HotkeysX11Test, BrushedSpaceStartsNothing)
{
    MainWindow& window = makeActiveWindow();
    hold("space", 300);
    QTest::qWait(500);
    EXPECT_EQ(starts(), 0u);
    EXPECT_FALSE(window.isRecording());
}

TEST_F(HotkeysX11Test, HeldCtrlSpaceStopsAndNothingActsInTheWrongState)
{
    MainWindow& window = makeActiveWindow();
    hold("ctrl+space", 700);
    EXPECT_EQ(stops(), 0u);

    window.onRecordClicked();
    ASSERT_TRUE(window.isRecording());
    hold("space", 700);
    EXPECT_EQ(starts(), 1u);

    hold("ctrl+space", 300);
    EXPECT_TRUE(window.isRecording());
    const auto pressedAt = hold("ctrl+space", 700);
    ASSERT_EQ(stops(), 1u);
    EXPECT_GE(msBetween(pressedAt, engine().stops[0]), 560);
    EXPECT_FALSE(window.isRecording());
}

TEST_F(HotkeysX11Test, SharedKeyTogglesAndKeypadKeyMatches)
{
    seed({{"hotkey.0", std::string("Enter")}, {"hotkey.1", std::string("Enter")}});
    MainWindow& window = makeActiveWindow();
    hold("KP_Enter", 700);
    EXPECT_EQ(starts(), 1u);
    EXPECT_TRUE(window.isRecording());
    hold("KP_Enter", 700);
    EXPECT_EQ(stops(), 1u);
    EXPECT_FALSE(window.isRecording());
    EXPECT_EQ(starts(), 1u);
}

TEST_F(HotkeysX11Test, SceneFieldTypesSpacesAndLetters)
{
    MainWindow& window = makeActiveWindow();
    QLineEdit* scene = window.sceneField();
    scene->setFocus();
    QTest::qWait(50);
    hold("space", 700);
    EXPECT_FALSE(scene->text().isEmpty());
    EXPECT_TRUE(scene->text().trimmed().isEmpty()) << scene->text().toStdString();
    xdotool({"key", "s", "c"});
    EXPECT_TRUE(QTest::qWaitFor([scene] { return scene->text().endsWith("sc"); }, 5000))
        << scene->text().toStdString();
    QTest::qWait(300);
    EXPECT_EQ(starts(), 0u);
    EXPECT_TRUE(engine().callsOf({"enableSlate", "setSlate", "setCom"}).empty());
}

// Clicked into the scene, "30" typed and Return: the held space starts a
// take named with scene 30, not 30 followed by the spaces of the hold.
TEST_F(HotkeysX11Test, ReturnInTheSceneFieldGivesTheRecordKeyBack)
{
    MainWindow& window = makeActiveWindow();
    QLineEdit* scene = window.sceneField();
    const QPoint centre = scene->mapToGlobal(scene->rect().center());
    xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
    ASSERT_TRUE(QTest::qWaitFor([scene] { return scene->hasFocus(); }, 5000));
    xdotool({"key", "ctrl+a", "3", "0", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([scene] { return !scene->hasFocus(); }, 5000)) << scene->text().toStdString();
    // Longer than the 600 ms the key needs, with room for a loaded machine.
    hold("space", 1200);
    ASSERT_EQ(starts(), 1u);
    EXPECT_TRUE(window.isRecording());
    EXPECT_EQ(scene->text(), "30");
    EXPECT_EQ(engine().getRecordingMetadata().scene, "30");
}

// Shift let go before S: the monitor slate still ends.
TEST_F(HotkeysX11Test, SlateKeysEndOnRelease)
{
    MainWindow& window = makeActiveWindow();
    xdotool({"keydown", "shift+s"});
    EXPECT_TRUE(QTest::qWaitFor([&window] { return window.isMonitorSlateActive(); }, 5000));
    // The server keeps the order: Shift goes up before S.
    xdotool({"keyup", "shift"});
    xdotool({"keyup", "s"});
    EXPECT_TRUE(QTest::qWaitFor([&window] { return !window.isMonitorSlateActive(); }, 5000));
    hold("c", 400);
    EXPECT_FALSE(window.isComActive());
    EXPECT_EQ(engine().callsOf({"enableSlate", "setSlate", "setCom"}),
              (std::vector<std::string>{"setSlateMicMonitorOnly(true)", "enableSlateMic(true)",
                                        "enableSlateMic(false)", "setSlateMicMonitorOnly(false)",
                                        "enableSlateMicToCom(true)", "setComInput1Enabled(true)",
                                        "setComInput2Enabled(true)", "enableSlateMicToCom(false)",
                                        "setComInput1Enabled(false)", "setComInput2Enabled(false)"}));
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::vector<std::string> repeatArguments;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const std::string prefix = "--xvfb-repeat=";
        if (argument.rfind(prefix, 0) == 0) {
            const std::string value = argument.substr(prefix.size());
            const size_t comma = value.find(',');
            repeatArguments = {"-ardelay", value.substr(0, comma), "-arinterval", value.substr(comma + 1)};
        }
    }
    if (::testing::GTEST_FLAG(list_tests)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        TonvaleApplication app(argc, argv);
        return RUN_ALL_TESTS();
    }

    XvfbServer server;
    gXdotool = QStandardPaths::findExecutable("xdotool");
    if (gXdotool.isEmpty())
        gSkipReason = "xdotool is not installed";
    else
        server.start("1280x1024x24", repeatArguments, gSkipReason);
    if (gSkipReason.empty()) {
        qputenv("DISPLAY", QByteArray::fromStdString(server.display()));
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        TonvaleApplication app(argc, argv);
        app.installNativeEventFilter(&gKeyArrivals);
        result = RUN_ALL_TESTS();
        app.removeNativeEventFilter(&gKeyArrivals);
    }
    server.stop();
    return result;
}
