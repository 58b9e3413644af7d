// The Routing menu's matrices from the running window on the stepped virtual
// interface: what they open on, what a live change does to the engine and
// the configuration at once, and what accepting adds.

#include "MainWindowTestSupport.h"

#include "engine/AudioEngine_CoreAudio.h"
#include "ui/common/MeterWidget.h"
#include "ui/mixer/InputMatrixDialog.h"
#include "ui/mixer/OutputMatrixDialog.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QApplication>
#include <QDir>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr uint32_t kBlock = 256;

// Runs `act` on the first visible dialog of type T once it is open.
template <typename T>
void whenOpen(std::function<void(T&)> act, int triesLeft = 300)
{
    QTimer::singleShot(10, [act = std::move(act), triesLeft] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget()); dialog != nullptr) {
            act(*dialog);
            return;
        }
        if (triesLeft > 0)
            whenOpen<T>(act, triesLeft - 1);
    });
}

void grabIfAsked(QWidget& dialog, const QString& name)
{
    const QString dir = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        dialog.grab().save(QDir(dir).filePath(name + ".png"));
}

// Checks (or unchecks) the grid cell whose port is `port` in `row`.
void checkCell(QTableWidget& grid, int row, const std::string& port, Qt::CheckState state = Qt::Checked)
{
    for (int column = 1; column < grid.columnCount(); ++column) {
        QTableWidgetItem* cell = grid.item(row, column);
        if (cell != nullptr && cell->data(Qt::UserRole).toString().toStdString() == port) {
            cell->setCheckState(state);
            return;
        }
    }
    ADD_FAILURE() << "no cell for " << port << " in row " << row;
}

class MainWindowRoutingTest : public MainWindowTest {
protected:
    MainWindow& makeDeviceWindow(std::vector<std::pair<std::string, Value>> keys)
    {
        keys.emplace_back("audio.device", std::string("Virtual Interface"));
        seed(keys);
        MainWindow& window = makeWindow();
        window.show();
        return window;
    }

    AudioEngine_CoreAudio* coreEngine() const { return dynamic_cast<AudioEngine_CoreAudio*>(window_->engine()); }

    // Track 1's meter after a fresh stretch of audio, as the meter timer shows it.
    int trackMeter(int track)
    {
        window_->updateMeters();  // reading resets the held peak
        EXPECT_TRUE(audio_->renderBlocks(40, kBlock));
        window_->updateMeters();
        return window_->trackRows()[static_cast<size_t>(track)].meter->value();
    }

    std::string stored(const std::string& key) { return ConfigManager::getInstance()->getString(key, "<unset>"); }
};

TEST_F(MainWindowRoutingTest, InputMatrixOpensOnTheStoredState)
{
    makeDeviceWindow({{"track.input.0", std::string("(None)")},
                      {"track.input.1", std::string("Tone 2.5 kHz -6 dB")},
                      {"track.name.1", std::string("Boom")}});
    int shown = 0;
    whenOpen<InputMatrixDialog>([&](InputMatrixDialog& dialog) {
        ++shown;
        EXPECT_EQ(dialog.getTrackCount(), 8);
        const std::vector<std::string> names = dialog.getTrackNames();
        ASSERT_EQ(names.size(), 8u);
        EXPECT_EQ(names[0], "Track 1");
        EXPECT_EQ(names[1], "Boom");
        EXPECT_EQ(names[7], "Track 8");
        const auto matrix = dialog.getRoutingMatrix();
        ASSERT_EQ(matrix.size(), 8u);
        EXPECT_TRUE(matrix[0].empty()) << "\"(None)\" is no input";
        EXPECT_EQ(matrix[1], std::vector<std::string>{"Tone 2.5 kHz -6 dB"});
        grabIfAsked(dialog, "InputMatrixDialog");
        dialog.reject();
    });
    ASSERT_NE(action("&Routing", "Input Matrix"), nullptr);
    action("&Routing", "Input Matrix")->trigger();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(stored("track.input.1"), "Tone 2.5 kHz -6 dB") << "opening and cancelling changes nothing";
}

TEST_F(MainWindowRoutingTest, LiveInputChangeReachesMeterAndKeysAtOnce)
{
    MainWindow& window = makeDeviceWindow({{"track.count", 4},
                                           {"track.input.0", std::string("Silence")},
                                           {"track.input.1", std::string("Silence")},
                                           {"track.input.2", std::string("Silence")},
                                           {"track.input.3", std::string("Silence")}});
    ASSERT_NE(coreEngine(), nullptr);
    ASSERT_EQ(window.shownTrackCount(), 4);
    EXPECT_EQ(trackMeter(0), 0);

    int during = -1;
    whenOpen<InputMatrixDialog>([&](InputMatrixDialog& dialog) {
        auto* grid = dialog.findChild<QTableWidget*>();
        ASSERT_NE(grid, nullptr);
        checkCell(*grid, 0, "Tone 2.5 kHz -6 dB");
        during = trackMeter(0);
        EXPECT_EQ(stored("track.input.0"), "Tone 2.5 kHz -6 dB");
        dialog.reject();
    });
    action("&Routing", "Input Matrix")->trigger();
    // -6 dBFS sits at 740 of the meter's 1000.
    EXPECT_NEAR(during, 740, 5);
    EXPECT_NEAR(trackMeter(0), 740, 5) << "a cancel keeps what was changed live";
    EXPECT_EQ(stored("track.input.0"), "Tone 2.5 kHz -6 dB");
    EXPECT_EQ(stored("track.input.1"), "Silence");
}

TEST_F(MainWindowRoutingTest, AcceptedTrackCountRebuildsRowsAndRoutesOutputs)
{
    MainWindow& window = makeDeviceWindow({{"track.count", 8}, {"track.output.5", std::string("Virtual Interface Output 6")}});
    ASSERT_EQ(window.trackRows().size(), 8u);
    size_t rowsWhileOpen = 0;
    whenOpen<InputMatrixDialog>([&](InputMatrixDialog& dialog) {
        auto* count = dialog.findChild<QSpinBox*>();
        ASSERT_NE(count, nullptr);
        count->setValue(6);
        rowsWhileOpen = static_cast<size_t>(window_->shownTrackCount());
        auto* grid = dialog.findChild<QTableWidget*>();
        ASSERT_NE(grid, nullptr);
        for (int column = 1; column < grid->columnCount(); ++column)
            grid->item(2, column)->setCheckState(Qt::Unchecked);
        dialog.accept();
    });
    action("&Routing", "Input Matrix")->trigger();
    EXPECT_EQ(rowsWhileOpen, 6u) << "a live count change rebuilds the rows at once";
    EXPECT_EQ(window.shownTrackCount(), 6);
    EXPECT_TRUE(window.trackRows()[6].rowWidget->isHidden()) << "rows are hidden, never destroyed";
    EXPECT_TRUE(window.mixerStrips()[6].stripWidget->isHidden());
    EXPECT_EQ(ConfigManager::getInstance()->getInt("track.count", 0), 6);
    EXPECT_EQ(stored("track.input.2"), "(None)") << "an unrouted track is stored as \"(None)\"";
    EXPECT_TRUE(logHas("Applied input routing: 6 tracks"));
    EXPECT_TRUE(logHas("CoreAudio: applyOutputRouting called")) << "the outputs are routed for the new count";
}

TEST_F(MainWindowRoutingTest, OutputMatrixStoresFirstPortAndAppliesAll)
{
    MainWindow& window = makeDeviceWindow({{"track.count", 2}, {"mix.output", std::string("Virtual Interface Output 1, Virtual Interface Output 2, ")}});
    ASSERT_NE(coreEngine(), nullptr);
    const std::vector<std::string> outputs = coreEngine()->getAvailableOutputChannels();
    ASSERT_GE(outputs.size(), 6u);
    // The stored list with blanks reaches the engine as two names.
    EXPECT_EQ(coreEngine()->getMixOutputIndices(), (std::vector<int>{0, 1}));
    (void)window;

    whenOpen<OutputMatrixDialog>([&](OutputMatrixDialog& dialog) {
        auto* grid = dialog.findChild<QTableWidget*>();
        ASSERT_NE(grid, nullptr);
        grabIfAsked(dialog, "OutputMatrixDialog");
        checkCell(*grid, 3, outputs[2]);  // track 1 to two outputs
        checkCell(*grid, 3, outputs[3]);
        checkCell(*grid, 2, outputs[4]);  // monitor
        // Live: the engine has the monitor, the configuration the first port.
        EXPECT_EQ(coreEngine()->getMonitorOutputIndices(), (std::vector<int>{4}));
        EXPECT_EQ(stored("track.output.0"), outputs[2]);
        EXPECT_EQ(stored("monitor.output"), outputs[4]);
        dialog.accept();
    });
    action("&Routing", "Output Matrix")->trigger();
    EXPECT_EQ(stored("track.output.0"), outputs[2]) << "one port per track is kept";
    EXPECT_EQ(stored("track.output.1"), "");
    EXPECT_EQ(coreEngine()->getMonitorOutputIndices(), (std::vector<int>{4}));
    EXPECT_EQ(coreEngine()->getMixOutputIndices(), (std::vector<int>{0, 1}));
}

TEST_F(MainWindowRoutingTest, OutputUncheckedLiveThenCancelledStaysCleared)
{
    makeDeviceWindow({{"track.count", 2}, {"track.output.0", std::string("Virtual Interface Output 3")}});
    ASSERT_NE(coreEngine(), nullptr);
    int shown = 0;
    whenOpen<OutputMatrixDialog>([&](OutputMatrixDialog& dialog) {
        ++shown;
        auto* grid = dialog.findChild<QTableWidget*>();
        ASSERT_NE(grid, nullptr);
        checkCell(*grid, 3, "Virtual Interface Output 3", Qt::Unchecked);
        EXPECT_EQ(stored("track.output.0"), "") << "the engine has no output for the track now, nor has the key";
        dialog.reject();
    });
    action("&Routing", "Output Matrix")->trigger();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(stored("track.output.0"), "") << "a later rerouting must not bring the output back";
}

TEST_F(MainWindowRoutingTest, OutputMatrixApplySplitsListsAndCancelKeepsGeneratorKey)
{
    // The grid opens on the track port the emitted Apply below reports, as the
    // dialog's own Apply would; a later live change stores the grid again.
    MainWindow& window = makeDeviceWindow({{"track.count", 2},
                                           {"track.output.0", std::string("Virtual Interface Output 3")},
                                           {"ltcgen.output", std::string("Virtual Interface Output 8")}});
    ASSERT_NE(coreEngine(), nullptr);
    (void)window;
    whenOpen<OutputMatrixDialog>([&](OutputMatrixDialog& dialog) {
        // The dialog reports lists the user typed with blanks the same way.
        emit dialog.routingApplied(std::vector<std::vector<std::string>>{{std::string("Virtual Interface Output 3")}, {}},
                                   std::vector<std::map<std::string, std::string>>(2), "Virtual Interface Output 1, Virtual Interface Output 2", "", "Virtual Interface Output 5 ,Virtual Interface Output 6,", "Virtual Interface Output 8");
        EXPECT_EQ(stored("mix.output"), "Virtual Interface Output 1, Virtual Interface Output 2") << "lists are stored as the dialog gives them";
        EXPECT_EQ(stored("monitor.output"), "Virtual Interface Output 5 ,Virtual Interface Output 6,");
        EXPECT_EQ(coreEngine()->getMixOutputIndices(), (std::vector<int>{0, 1}));
        EXPECT_EQ(coreEngine()->getMonitorOutputIndices(), (std::vector<int>{4, 5}));
        EXPECT_TRUE(coreEngine()->getComsOutputIndices().empty()) << "an empty list routes the bus nowhere";
        // A live generator change is not stored; Cancel leaves the key alone.
        auto* grid = dialog.findChild<QTableWidget*>();
        ASSERT_NE(grid, nullptr);
        checkCell(*grid, grid->rowCount() - 1, "Virtual Interface Output 7");
        dialog.reject();
    });
    action("&Routing", "Output Matrix")->trigger();
    EXPECT_EQ(stored("ltcgen.output"), "Virtual Interface Output 8");
    EXPECT_EQ(stored("track.output.0"), "Virtual Interface Output 3");
}

} // namespace
