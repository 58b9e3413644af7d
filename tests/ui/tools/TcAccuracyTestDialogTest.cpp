// The timecode accuracy test: its measuring rules, what it shows for scripted
// timecodes, jams against plain-libltc timecode on the virtual input, the
// drift log read back by Python's csv module, and the calibration.

#include "ModalBoxAnswerer.h"
#include "ScriptedEngine.h"
#include "engine/RenderTestSupport.h"
#include "core/ConfigManager.h"
#include "support/ExternalTool.h"
#include "timecode/LtcEncoder.h"
#include "timecode/LtcTestSignals.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <memory>

namespace {

using Dialog = TcAccuracyTestDialog;

LtcEncoder::Timecode generatorTime(int h, int m, int s, int f, bool drop = false)
{
    return {static_cast<uint8_t>(h), static_cast<uint8_t>(m), static_cast<uint8_t>(s), static_cast<uint8_t>(f), drop};
}

QLabel* labelStarting(QWidget& dialog, const QString& prefix)
{
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text().startsWith(prefix))
            return label;
    return nullptr;
}
QString labelText(QWidget& dialog, const QString& prefix)
{
    QLabel* label = labelStarting(dialog, prefix);
    return label != nullptr ? label->text() : QString("<no label starting %1>").arg(prefix);
}
QPushButton* button(QWidget& dialog, const QString& text)
{
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

TEST(TcAccuracyRules, CountsDriftAndFormats)
{
    struct Case {
        const char* what;
        Timecode internal;
        Timecode external;
        int fps;
        int64_t drift;
        int64_t samples;
    };
    const Case cases[] = {
        {"df before ten minutes", {0, 9, 59, 29, 30, true}, {0, 10, 0, 0, 30, true}, 30, -1, -1600},
        {"df across the hour", {1, 0, 0, 0, 30, true}, {0, 59, 59, 29, 30, true}, 30, 1, 1600},
        {"df across a dropped minute", {0, 1, 0, 2, 30, true}, {0, 0, 59, 29, 30, true}, 30, 1, 1600},
        {"25 fps ahead", {10, 0, 0, 5, 25, false}, {10, 0, 0, 0, 25, false}, 25, 5, 9600},
        {"midnight, generator past it", {0, 0, 0, 2, 25, false}, {23, 59, 59, 24, 25, false}, 25, 3, 5760},
        {"midnight, external past it", {23, 59, 59, 23, 25, false}, {0, 0, 0, 1, 25, false}, 25, -3, -5760},
        {"midnight, df", {0, 0, 0, 0, 30, true}, {23, 59, 59, 29, 30, true}, 30, 1, 1600},
    };
    for (const Case& c : cases) {
        const bool df = c.external.dropFrame && (c.fps == 29 || c.fps == 30);
        const int64_t g = Dialog::frameCount(c.internal.hours, c.internal.minutes, c.internal.seconds,
                                             c.internal.frames, c.fps, df);
        const int64_t e = Dialog::frameCount(c.external.hours, c.external.minutes, c.external.seconds,
                                             c.external.frames, c.fps, df);
        const int64_t drift = Dialog::foldedDrift(g, e, c.fps, df);
        EXPECT_EQ(drift, c.drift) << c.what;
        EXPECT_EQ(Dialog::driftSamples(drift, c.fps), c.samples) << c.what;
    }
    EXPECT_EQ(Dialog::nominalFps(0.0), 30);
    EXPECT_EQ(Dialog::nominalFps(23.976), 24);
    EXPECT_EQ(Dialog::nominalFps(29.97), 30);
    EXPECT_EQ(Dialog::driftSamples(5, 0), 0);
    EXPECT_EQ(Dialog::formatTimecode(1, 2, 3, 4), "01:02:03:04");
    const std::pair<long long, const char*> elapsed[] = {
        {0, "00:00"}, {59999, "00:59"}, {3599999, "59:59"}, {3600000, "1:00:00"}, {90061000, "25:01:01"}};
    for (const auto& [ms, text] : elapsed)
        EXPECT_EQ(Dialog::formatElapsedTime(ms), text) << ms;
}

class TcAccuracyScriptedTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        system_ = std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::Stepped,
                                                       VirtualAudioDescription::builtInDefault());
        engine_ = std::make_unique<ScriptedEngine>(system_, 1);
        engine_->initialize();
        generator_ = std::make_unique<LtcEncoder>(48000, LtcEncoder::Fps25);
        dialog_ = std::make_unique<Dialog>(engine_.get(), generator_.get());
        dialog_->setClock([this] { return clockMs_; });
    }
    void TearDown() override
    {
        dialog_.reset();
        generator_.reset();
        engine_.reset();
        system_.reset();
    }
    void external(int h, int m, int s, int f, int fps = 25, bool drop = false)
    {
        engine_->timecode = Timecode{h, m, s, f, fps, drop};
        engine_->valid = true;
        engine_->detectedFps = fps == 30 && drop ? 29.97 : fps;
    }
    // Jams at clock 0 to the external time, then lets `ms` pass with the two
    // times given.
    void jamThen(int64_t ms, Timecode internal, Timecode externalLater)
    {
        clockMs_ = 0;
        dialog_->onJamSync();
        ASSERT_TRUE(dialog_->isSynced());
        clockMs_ = ms;
        generator_->setTimecode(generatorTime(internal.hours, internal.minutes, internal.seconds, internal.frames,
                                              internal.dropFrame));
        external(externalLater.hours, externalLater.minutes, externalLater.seconds, externalLater.frames,
                 externalLater.fps, externalLater.dropFrame);
        dialog_->updateDisplay();
    }

    std::shared_ptr<VirtualAudioSystem> system_;
    std::unique_ptr<ScriptedEngine> engine_;
    std::unique_ptr<LtcEncoder> generator_;
    std::unique_ptr<Dialog> dialog_;
    int64_t clockMs_ = 0;
};

TEST_F(TcAccuracyScriptedTest, DisplayShowsTheWorkedFigures)
{
    struct Case {
        const char* what;
        int64_t ms;
        Timecode internal;
        Timecode external;
        const char* drift;
        const char* rate;
        const char* accuracy;
    };
    const Case cases[] = {
        {"half a second", 500, {10, 0, 0, 5, 25, false}, {10, 0, 0, 0, 25, false},
         "DRIFT: +5 frames (+9600 samples)", "Rate: calculating...", "Accuracy: measuring... (59s until result)"},
        {"ten seconds", 10000, {10, 0, 0, 0, 25, false}, {10, 0, 0, 0, 25, false}, "DRIFT: +0 frames (+0 samples)",
         "Rate: +0.00 frames/hour (elapsed: 00:10)", "Accuracy: measuring... (50s until result)"},
        {"df behind", 20000, {0, 9, 59, 29, 30, true}, {0, 10, 0, 0, 30, true}, "DRIFT: -1 frames (-1600 samples)",
         "Rate: -180.00 frames/hour (elapsed: 00:20)", "Accuracy: measuring... (40s until result)"},
        {"an hour, +3 at 25", 3600000, {11, 0, 0, 3, 25, false}, {11, 0, 0, 0, 25, false},
         "DRIFT: +3 frames (+5760 samples)", "Rate: +3.00 frames/hour (elapsed: 1:00:00)",
         "Accuracy: +33.33 PPM (+0.003333%) - GOOD"},
        {"exactly 1 ppm", 40000000, {1, 0, 0, 1, 25, false}, {1, 0, 0, 0, 25, false},
         "DRIFT: +1 frames (+1920 samples)", "Rate: +0.09 frames/hour (elapsed: 11:06:40)",
         "Accuracy: +1.00 PPM (+0.000100%) - VERY GOOD"},
        {"exactly 100 ppm", 400000, {1, 0, 0, 0, 25, false}, {1, 0, 0, 1, 25, false},
         "DRIFT: -1 frames (-1920 samples)", "Rate: -9.00 frames/hour (elapsed: 06:40)",
         "Accuracy: -100.00 PPM (-0.010000%) - POOR"},
        {"across midnight", 120000, {0, 0, 0, 0, 25, false}, {23, 59, 59, 24, 25, false},
         "DRIFT: +1 frames (+1920 samples)", "Rate: +30.00 frames/hour (elapsed: 02:00)",
         "Accuracy: +333.33 PPM (+0.033333%) - POOR"},
    };
    for (const Case& c : cases) {
        generator_->setFrameRate(c.internal.dropFrame ? LtcEncoder::Fps2997 : LtcEncoder::Fps25);
        external(c.external.hours, c.external.minutes, c.external.seconds, c.external.frames, c.external.fps,
                 c.external.dropFrame);
        jamThen(c.ms, c.internal, c.external);
        EXPECT_EQ(labelText(*dialog_, "DRIFT:"), c.drift) << c.what;
        EXPECT_EQ(labelText(*dialog_, "Rate:"), c.rate) << c.what;
        EXPECT_EQ(labelText(*dialog_, "Accuracy:"), c.accuracy) << c.what;
    }
    // Nothing detected yet counts at 30.
    generator_->setFrameRate(LtcEncoder::Fps30);
    jamThen(500, {0, 0, 1, 0, 30, false}, {0, 0, 0, 0, 25, false});
    engine_->detectedFps = 0.0;
    dialog_->updateDisplay();
    EXPECT_EQ(labelText(*dialog_, "DRIFT:"), "DRIFT: +30 frames (+48000 samples)");
}

TEST_F(TcAccuracyScriptedTest, SyncStatesAndTheGeneratorHandOver)
{
    dialog_->updateDisplay();
    EXPECT_EQ(labelText(*dialog_, "Waiting"), "Waiting for external timecode...");
    EXPECT_FALSE(button(*dialog_, "JAM SYNC")->isEnabled());
    dialog_->setGenerator(nullptr);
    external(1, 0, 0, 0);
    dialog_->updateDisplay();
    EXPECT_NE(labelStarting(*dialog_, "Internal generator not running - start LTC Generator first"), nullptr);
    dialog_->tryAutoJam();
    EXPECT_FALSE(dialog_->isSynced());

    dialog_->setGenerator(generator_.get());
    dialog_->updateDisplay();
    EXPECT_NE(labelStarting(*dialog_, "Ready to sync - click JAM SYNC or wait..."), nullptr);
    EXPECT_TRUE(button(*dialog_, "JAM SYNC")->isEnabled());
    dialog_->tryAutoJam();
    EXPECT_TRUE(dialog_->isSynced());
    EXPECT_NE(labelStarting(*dialog_, "SYNCED at 01:00:00:00"), nullptr);
    EXPECT_EQ(generator_->getTimecode().hours, 1);
    ASSERT_NE(button(*dialog_, "RE-JAM"), nullptr);

    // Handed over again outside a run: not synced until JAM SYNC is pressed.
    dialog_->setGenerator(generator_.get());
    dialog_->updateDisplay();
    EXPECT_EQ(labelText(*dialog_, "DRIFT:"), "DRIFT: -- (not synced)");
    EXPECT_NE(labelStarting(*dialog_, "Ready to sync"), nullptr);
    for (QTimer* timer : dialog_->findChildren<QTimer*>())
        EXPECT_FALSE(timer->interval() == 500 && timer->isActive()) << "the automatic jam is armed only once";
    EXPECT_FALSE(dialog_->isSynced());
    external(2, 0, 0, 0);
    button(*dialog_, "RE-JAM")->click();
    EXPECT_TRUE(dialog_->isSynced());
    EXPECT_EQ(generator_->getTimecode().hours, 2);
}

class TcAccuracyLogTest : public TcAccuracyScriptedTest {
protected:
    QString logPath() const { return home_.path() + "/drift.csv"; }
    void setLogPath(const QString& path)
    {
        for (QLineEdit* edit : dialog_->findChildren<QLineEdit*>())
            if (edit->placeholderText() == "Select CSV file for logging...")
                edit->setText(path);
    }
    QSpinBox* intervalBox() const
    {
        for (QSpinBox* box : dialog_->findChildren<QSpinBox*>())
            if (box->suffix() == " second(s)")
                return box;
        return nullptr;
    }
    static QString readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

TEST_F(TcAccuracyLogTest, RowsParseWithPythonsCsvUnderACommaDecimalLocale)
{
    TONVALE_REQUIRE_TOOL("python3");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ModalBoxAnswerer boxes;
    setLogPath(logPath());
    external(10, 0, 0, 0);
    jamThen(1500, {10, 0, 0, 3, 25, false}, {10, 0, 0, 1, 25, false});
    intervalBox()->setValue(5);
    button(*dialog_, "Start Logging")->click();
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_TRUE(dialog_->isLogging());
    EXPECT_EQ(dialog_->loggedRows(), 1) << "a row at once";
    EXPECT_EQ(dialog_->findChild<QTimer*>() != nullptr, true);
    clockMs_ = 6500;
    dialog_->logMeasurement();  // the 5 s tick
    engine_->valid = false;     // a lost reference still writes a row
    dialog_->logMeasurement();
    dialog_->updateDisplay();
    EXPECT_NE(labelStarting(*dialog_, "Samples logged: 3    Duration: 00:05"), nullptr);
    button(*dialog_, "Stop Logging")->click();
    EXPECT_FALSE(dialog_->isLogging());

    // A second run appends without a second header; the destructor closes.
    engine_->valid = true;
    button(*dialog_, "Start Logging")->click();
    dialog_.reset();
    QLocale::setDefault(QLocale::c());

    const QString text = readAll(logPath());
    EXPECT_TRUE(text.startsWith("timestamp,elapsed_seconds,internal_tc,external_tc,drift_frames,drift_samples,"
                                "drift_rate_frames_per_hour\n"));
    EXPECT_EQ(text.count("timestamp"), 1);
    const QString script = R"(
import csv, sys, datetime
with open(sys.argv[1], newline='') as f:
    rows = list(csv.reader(f, strict=True))
assert rows[0] == ['timestamp','elapsed_seconds','internal_tc','external_tc','drift_frames','drift_samples','drift_rate_frames_per_hour'], rows[0]
for row in rows[1:]:
    assert len(row) == 7, row
    datetime.datetime.fromisoformat(row[0])
    int(row[1]); int(row[4]); int(row[5]); float(row[6])
print(len(rows) - 1)
for row in rows[1:]:
    print('|'.join(row[1:]))
)";
    const ToolResult result = runTool("python3", {"-c", script, logPath()});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
    const QStringList lines = result.standardOutput.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "4");
    EXPECT_EQ(lines[1], "1|10:00:00:03|10:00:00:01|2|3840|4800.00");
    EXPECT_EQ(lines[2], "6|10:00:00:03|10:00:00:01|2|3840|1107.69");
    EXPECT_EQ(lines[3], "6|10:00:00:03||0|0|0.00");
}

TEST_F(TcAccuracyLogTest, RefusalsAndAFullDiskStopLogging)
{
    ModalBoxAnswerer boxes;
    setLogPath(logPath());
    button(*dialog_, "Start Logging")->click();
    external(10, 0, 0, 0);
    jamThen(1000, {10, 0, 0, 0, 25, false}, {10, 0, 0, 0, 25, false});
    setLogPath("");
    button(*dialog_, "Start Logging")->click();
    setLogPath(home_.path() + "/no/such/folder/log.csv");
    button(*dialog_, "Start Logging")->click();
    ASSERT_EQ(boxes.count(), 3);
    EXPECT_EQ(boxes.boxes()[0].title, "Not Synced");
    EXPECT_EQ(boxes.boxes()[0].text, "Please wait for timecode sync before logging.");
    EXPECT_EQ(boxes.boxes()[1].text, "Please select a log file first.");
    EXPECT_EQ(boxes.boxes()[2].text, "Could not open log file for writing.");
    EXPECT_FALSE(dialog_->isLogging());

    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "SKIPPED: /dev/full is missing; the full-disk case did not run";
    setLogPath("/dev/full");
    button(*dialog_, "Start Logging")->click();
    EXPECT_FALSE(dialog_->isLogging());
    EXPECT_EQ(dialog_->loggedRows(), 0) << "a row that was not written is not counted";
    ASSERT_EQ(boxes.count(), 4);
    EXPECT_EQ(boxes.boxes()[3].title, "Logging Stopped");
    EXPECT_TRUE(button(*dialog_, "Start Logging")->isEnabled());
}

class TcCalibrationTest : public TcAccuracyScriptedTest {
protected:
    QSpinBox* spinWithSuffix(const QString& suffix) const
    {
        for (QSpinBox* box : dialog_->findChildren<QSpinBox*>())
            if (box->suffix() == suffix)
                return box;
        return nullptr;
    }
    QSpinBox* numberBox() const
    {
        for (QSpinBox* box : dialog_->findChildren<QSpinBox*>())
            if (box->minimum() == -100000)
                return box;
        return nullptr;
    }
    // Starts a run at clock 0 with both times at `start`.
    void startRun(ModalBoxAnswerer& boxes, Timecode start)
    {
        clockMs_ = 0;
        external(start.hours, start.minutes, start.seconds, start.frames, start.fps);
        boxes.setAnswer(QMessageBox::Yes);
        button(*dialog_, "START CALIBRATION")->click();
        ASSERT_TRUE(dialog_->isCalibrating());
    }
    // Ends the run after `hours` with the given generator and external counts
    // since the start (25 fps plain counting from `start`).
    void endRun(double hours, int64_t generatorFrames, int64_t externalFrames, Timecode start)
    {
        const int64_t base = start.toFrames();
        const int64_t day = 25LL * 86400;
        const Timecode g = Timecode::fromFrames((base + generatorFrames) % day, 25, false);
        const Timecode e = Timecode::fromFrames((base + externalFrames) % day, 25, false);
        generator_->setTimecode(generatorTime(g.hours, g.minutes, g.seconds, g.frames));
        external(e.hours, e.minutes, e.seconds, e.frames);
        clockMs_ = static_cast<int64_t>(hours * 3600000.0);
        dialog_->updateDisplay();
        dialog_->checkCalibration();
    }
};

TEST_F(TcCalibrationTest, ManualNumberSetsTheCorrectionAndBothKeys)
{
    ModalBoxAnswerer boxes;
    numberBox()->setValue(2500);
    button(*dialog_, "Apply")->click();
    EXPECT_DOUBLE_EQ(generator_->driftPpm.load(), 2.5);
    EXPECT_FLOAT_EQ(ConfigManager::getInstance()->getFloat("ltcgen.calibration_ppm", 0.0f), 2.5f);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.calibration_number", 0), 2500);
    EXPECT_EQ(labelText(*dialog_, "Current Calibration:"), "Current Calibration: +2.50 PPM");
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].text, "Calibration number 2500 applied.\n\nNew calibration: +2.50 PPM");

    // The box itself holds the test dialog's range of 100 PPM.
    numberBox()->setValue(250000);
    EXPECT_EQ(numberBox()->value(), 100000);
}

TEST_F(TcCalibrationTest, ASixHourRunAt25FpsCorrectsByTheMeasuredRate)
{
    ModalBoxAnswerer boxes;
    const Timecode start{8, 0, 0, 0, 25, false};
    startRun(boxes, start);
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith("This calibration process will take 6 HOURS."));
    endRun(5.9, 531027, 531000, start);
    EXPECT_TRUE(dialog_->isCalibrating());
    EXPECT_EQ(labelText(*dialog_, "Progress:"), "Progress: 98%  |  Elapsed: 5:54:00  |  Remaining: 06:00");
    endRun(6.0, 540027, 540000, start);
    EXPECT_FALSE(dialog_->isCalibrating());
    EXPECT_DOUBLE_EQ(generator_->driftPpm.load(), -50.0);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.calibration_number", 0), -50000);
    EXPECT_FLOAT_EQ(ConfigManager::getInstance()->getFloat("ltcgen.calibration_ppm", 0.0f), -50.0f);
    ASSERT_EQ(boxes.count(), 2);
    EXPECT_EQ(boxes.boxes()[1].title, "Calibration Complete");
    EXPECT_EQ(boxes.boxes()[1].text,
              "Calibration Complete!\n\nResults over 6 hours:\n• Measured drift: +27 frames\n• Drift rate: +50.00 "
              "PPM\n• Applied correction: -50.00 PPM\n• New total calibration: -50.00 PPM\n\n🎯 Calibration Number: "
              "-50000\n(Write this number down for future use)\n\nThe internal generator is now calibrated for this "
              "PC.\nThis calibration will be saved and applied automatically.");
    EXPECT_EQ(labelText(*dialog_, "Current Calibration:"), "Current Calibration: -50.00 PPM");
    EXPECT_NE(button(*dialog_, "START CALIBRATION"), nullptr);
    EXPECT_TRUE(button(*dialog_, "START CALIBRATION")->isVisible() || !dialog_->isVisible());
}

TEST_F(TcCalibrationTest, RunsThatCannotBeTrustedChangeNothing)
{
    struct Case {
        const char* what;
        Timecode start;
        int64_t generatorFrames;
        int64_t externalFrames;
        const char* title;
        double ppm;  // the correction afterwards
    };
    const Case cases[] = {
        {"across midnight, as any other", {22, 0, 0, 0, 25, false}, 540027, 540000, "Calibration Complete", -50.0},
        {"generator loses", {8, 0, 0, 0, 25, false}, 539973, 540000, "Calibration Complete", 50.0},
        {"external froze", {8, 0, 0, 0, 25, false}, 540000, 0, "Calibration Failed", 0.0},
        {"external jumped an hour", {8, 0, 0, 0, 25, false}, 540000, 630000, "Calibration Failed", 0.0},
        {"generator stopped", {8, 0, 0, 0, 25, false}, 10, 540000, "Calibration Failed", 0.0},
        {"beyond 100 ppm", {8, 0, 0, 0, 25, false}, 540081, 540000, "Calibration Failed", 0.0},
    };
    for (const Case& c : cases) {
        generator_->driftPpm.store(0.0);
        ConfigManager::getInstance()->setFloat("ltcgen.calibration_ppm", 0.0f);
        ModalBoxAnswerer boxes;
        startRun(boxes, c.start);
        endRun(6.0, c.generatorFrames, c.externalFrames, c.start);
        EXPECT_FALSE(dialog_->isCalibrating()) << c.what;
        ASSERT_EQ(boxes.count(), 2) << c.what;
        EXPECT_EQ(boxes.boxes()[1].title, c.title) << c.what << ": " << boxes.boxes()[1].text.toStdString();
        EXPECT_NEAR(generator_->driftPpm.load(), c.ppm, 1e-9) << c.what;
        EXPECT_NEAR(ConfigManager::getInstance()->getFloat("ltcgen.calibration_ppm", 0.0f), c.ppm, 1e-4) << c.what;
        EXPECT_TRUE(button(*dialog_, "JAM SYNC") != nullptr || button(*dialog_, "RE-JAM")->isEnabled()) << c.what;
    }
}

TEST_F(TcCalibrationTest, AnswersCancelAShortenedRunAndALostGenerator)
{
    ModalBoxAnswerer boxes(QMessageBox::No);
    external(8, 0, 0, 0);
    button(*dialog_, "START CALIBRATION")->click();
    EXPECT_FALSE(dialog_->isCalibrating()) << "No to the start question";
    EXPECT_FALSE(dialog_->isSynced());

    const Timecode start{8, 0, 0, 0, 25, false};
    startRun(boxes, start);
    boxes.setAnswer(QMessageBox::No);
    button(*dialog_, "Cancel")->click();
    EXPECT_TRUE(dialog_->isCalibrating()) << "No to the cancel question";
    boxes.setAnswer(QMessageBox::Yes);
    button(*dialog_, "Cancel")->click();
    EXPECT_FALSE(dialog_->isCalibrating());
    EXPECT_NE(labelStarting(*dialog_, "Calibration cancelled"), nullptr);
    EXPECT_EQ(generator_->driftPpm.load(), 0.0);

    // Lowering the duration below the elapsed time ends the run at the next check.
    startRun(boxes, start);
    spinWithSuffix(" hours")->setValue(1);
    endRun(1.5, 135000, 135000, start);
    EXPECT_FALSE(dialog_->isCalibrating());
    EXPECT_EQ(boxes.boxes().back().title, "Calibration Complete");

    // The generator goes away during a run: the group returns to idle.
    startRun(boxes, start);
    dialog_->setGenerator(nullptr);
    EXPECT_TRUE(dialog_->isSynced()) << "a run keeps the sync";
    dialog_->calibrationComplete();
    EXPECT_EQ(boxes.boxes().back().text, "Lost connection to audio engine or generator.");
    EXPECT_FALSE(dialog_->isCalibrating());
    dialog_->show();
    EXPECT_TRUE(button(*dialog_, "START CALIBRATION")->isVisible());
    EXPECT_FALSE(button(*dialog_, "Cancel")->isVisible());
}

}  // namespace
