// The accuracy test against external LTC made with plain libltc, fed to a
// virtual input and decoded by the engine, with the generator rendered by
// the engine: jams, and a one-hour calibration that corrects a generator
// running 40 PPM fast. The dialog's clock advances with the rendered audio.

#include "ModalBoxAnswerer.h"
#include "engine/RenderTestSupport.h"
#include "core/ConfigManager.h"
#include "timecode/LtcEncoder.h"
#include "timecode/LtcTestSignals.h"
#include "timecode/Timecode.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <QLabel>

#include <cmath>
#include <functional>
#include <memory>

namespace ltctest {
// A failing rate case names its rate.
void PrintTo(const RateCase& rate, std::ostream* out)
{
    *out << rate.name;
}
}  // namespace ltctest

namespace {

constexpr uint32_t kBlock = 1000;
constexpr int kBlocksPerSecond = 48;
constexpr uint32_t kExternalInput = 6;

class TcAccuracyEngineTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        whileStopped([&] { engine_->setLtcInputPort(inputNames_[kExternalInput]); });
        engine_->setLtcInputEnabled(true);
        generator_ = std::make_unique<LtcEncoder>(48000, LtcEncoder::Fps25);
        generator_->setTimecode({3, 0, 0, 0, false});
        engine_->setLtcGenerator(generator_.get());
        engine_->enableLtcGenerator(true);
        dialog_ = std::make_unique<TcAccuracyTestDialog>(engine_.get(), generator_.get());
        dialog_->setClock([this] { return renderedFrames_ * 1000 / 48000; });
    }
    void TearDown() override
    {
        dialog_.reset();
        engine_->enableLtcGenerator(false);
        engine_->setLtcGenerator(nullptr);
        generator_.reset();
        RenderTest::TearDown();
    }

    // One second of exact 25 fps LTC from the external label count on, fed
    // and rendered; the dialog's timers run as their intervals pass.
    void second()
    {
        static const ltctest::RateCase rate25 = ltctest::allRates()[1];
        const Timecode t = Timecode::fromFrames(externalLabel_ % (25 * 86400), 25, false);
        feed(kExternalInput, ltctest::plainEncode(rate25, t.hours, t.minutes, t.seconds, t.frames, 25, nullptr));
        externalLabel_ += 25;
        for (int b = 0; b < kBlocksPerSecond; ++b) {
            system_->renderBlocks(1, kBlock);
            renderedFrames_ += kBlock;
            if (b % displayEveryBlocks_ == 0) {
                if (autoJamTimer()->isActive())
                    dialog_->tryAutoJam();
                dialog_->updateDisplay();
                if (afterDisplay_)
                    afterDisplay_();
            }
        }
        system_->takeOutput(device_);
        dialog_->checkCalibration();
    }

    QTimer* autoJamTimer() const
    {
        for (QTimer* timer : dialog_->findChildren<QTimer*>())
            if (timer->interval() == 500)
                return timer;
        return nullptr;
    }

    // One second of rendering with the generator as the reader's only
    // source (the virtual input "LTCGEN"); the dialog's timers run as their
    // intervals pass.
    void generatorOnlySecond()
    {
        for (int b = 0; b < kBlocksPerSecond; ++b) {
            system_->renderBlocks(1, kBlock);
            renderedFrames_ += kBlock;
            if (dialog_ && b % displayEveryBlocks_ == 0) {
                if (autoJamTimer()->isActive())
                    dialog_->tryAutoJam();
                dialog_->updateDisplay();
                if (afterDisplay_)
                    afterDisplay_();
            }
        }
        system_->takeOutput(device_);
    }

    QLabel* labelStartingWith(const QString& start) const
    {
        for (QLabel* label : dialog_->findChildren<QLabel*>())
            if (label->text().startsWith(start))
                return label;
        return nullptr;
    }

    void restartDialog()
    {
        dialog_ = std::make_unique<TcAccuracyTestDialog>(engine_.get(), generator_.get());
        dialog_->setClock([this] { return renderedFrames_ * 1000 / 48000; });
    }

    std::unique_ptr<LtcEncoder> generator_;
    std::unique_ptr<TcAccuracyTestDialog> dialog_;
    int displayEveryBlocks_ = 24;
    std::function<void()> afterDisplay_;
    int64_t renderedFrames_ = 0;
    int64_t externalLabel_ = 25LL * (14 * 3600);  // 14:00:00:00
};

TEST_F(TcAccuracyEngineTest, AutoJamJamSyncAndReJamAgainstDecodedLtc)
{
    second();
    second();
    ASSERT_TRUE(engine_->hasValidTimecode());
    ASSERT_TRUE(dialog_->isSynced()) << "the automatic jam";
    const LtcEncoder::Timecode jammed = generator_->getTimecode();
    EXPECT_EQ(jammed.hours, 14);
    for (int s = 0; s < 5; ++s)
        second();
    const int64_t drift = TcAccuracyTestDialog::foldedDrift(
        TcAccuracyTestDialog::frameCount(generator_->getTimecode().hours, generator_->getTimecode().minutes,
                                         generator_->getTimecode().seconds, generator_->getTimecode().frames, 25, false),
        engine_->getTimecode().toFrames(), 25, false);
    EXPECT_LE(std::llabs(drift), 2) << "jammed to the decoded time";

    dialog_->setGenerator(generator_.get());
    EXPECT_FALSE(dialog_->isSynced());
    second();
    EXPECT_FALSE(dialog_->isSynced()) << "after a hand-over only JAM SYNC jams";
    generator_->setTimecode({1, 0, 0, 0, false});
    QPushButton* jam = nullptr;
    for (QPushButton* b : dialog_->findChildren<QPushButton*>())
        if (b->text() == "RE-JAM" || b->text() == "JAM SYNC")
            jam = b;
    ASSERT_NE(jam, nullptr);
    ASSERT_TRUE(jam->isEnabled());
    jam->click();
    EXPECT_TRUE(dialog_->isSynced());
    EXPECT_EQ(generator_->getTimecode().hours, 14);
    EXPECT_EQ(jam->text(), "RE-JAM");
}

TEST_F(TcAccuracyEngineTest, AOneHourRunCorrectsAGeneratorRunningFast)
{
#ifdef TONVALE_SANITIZED_BUILD
    GTEST_SKIP() << "SKIPPED in a sanitizer build: an hour of rendered audio takes too long there; the release "
                    "build runs this run";
#endif
    constexpr double kPresetPpm = 40.0;
    generator_->driftPpm.store(kPresetPpm);
    second();
    second();
    ASSERT_TRUE(engine_->hasValidTimecode());
    ModalBoxAnswerer boxes(QMessageBox::Yes);
    QSpinBox* duration = nullptr;
    for (QSpinBox* box : dialog_->findChildren<QSpinBox*>())
        if (box->suffix() == " hours")
            duration = box;
    ASSERT_NE(duration, nullptr);
    duration->setValue(1);
    dialog_->onStartCalibration();
    ASSERT_TRUE(dialog_->isCalibrating());
    for (int s = 0; s < 3700 && dialog_->isCalibrating(); ++s)
        second();
    ASSERT_FALSE(dialog_->isCalibrating());
    ASSERT_EQ(boxes.count(), 2);
    ASSERT_EQ(boxes.boxes()[1].title, "Calibration Complete") << boxes.boxes()[1].text.toStdString();
    // One frame in an hour at 25 fps is 11.1 PPM: the run's resolution.
    const double corrected = generator_->driftPpm.load();
    EXPECT_LE(std::fabs(corrected), 1e6 / 90000.0 + 0.01) << boxes.boxes()[1].text.toStdString();
    EXPECT_NEAR(ConfigManager::getInstance()->getFloat("ltcgen.calibration_ppm", 999.0f), corrected, 1e-4);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.calibration_number", 999999),
              static_cast<int>(std::llround(corrected * 1000.0)));
}

// Generator and reference on one sample clock, the generator at the rate
// its own dialog chose: whatever that rate, the dialog must read no drift
// beyond the reading's resolution of one frame, and an accuracy within what
// one frame is worth over the elapsed time.
TEST_F(TcAccuracyEngineTest, OneClockReadsNoDriftWhateverTheGeneratorRate)
{
    const LtcEncoder::FrameRate rates[] = {LtcEncoder::Fps25, LtcEncoder::Fps30, LtcEncoder::Fps24};
    for (LtcEncoder::FrameRate rate : rates) {
        SCOPED_TRACE(rate);
        dialog_.reset();
        generator_->setFrameRate(rate);
        dialog_ = std::make_unique<TcAccuracyTestDialog>(engine_.get(), generator_.get());
        dialog_->setClock([this] { return renderedFrames_ * 1000 / 48000; });
        QLabel* driftLabel = nullptr;
        QLabel* accuracyLabel = nullptr;
        for (QLabel* label : dialog_->findChildren<QLabel*>()) {
            if (label->text().startsWith("DRIFT:"))
                driftLabel = label;
            if (label->text().startsWith("Accuracy:"))
                accuracyLabel = label;
        }
        ASSERT_NE(driftLabel, nullptr);
        ASSERT_NE(accuracyLabel, nullptr);
        // About the display timer's period, at a phase that wanders across
        // the frames of both clocks.
        displayEveryBlocks_ = 5;
        int readings = 0;
        int worstDrift = 0;
        afterDisplay_ = [&] {
            if (!dialog_->isSynced())
                return;
            const QString text = driftLabel->text();
            const int drift = text.section(' ', 1, 1).toInt();
            worstDrift = std::max(worstDrift, std::abs(drift));
            ++readings;
        };
        for (int s = 0; s < 72; ++s)
            second();
        afterDisplay_ = nullptr;
        ASSERT_TRUE(dialog_->isSynced());
        EXPECT_GT(readings, 500);
        EXPECT_LE(worstDrift, 1) << driftLabel->text().toStdString();
        const QString accuracy = accuracyLabel->text();
        ASSERT_TRUE(accuracy.contains("PPM")) << accuracy.toStdString();
        const double ppm = accuracy.section(' ', 1, 1).toDouble();
        const double oneFramePpm = 1e6 / (70.0 * 25.0);
        EXPECT_LE(std::fabs(ppm), oneFramePpm) << accuracy.toStdString();
    }
}

// "Accuracy: +12.34 PPM (...)" gives 12.34.
double accuracyPpm(const QString& text)
{
    return text.section(' ', 1, 1).toDouble();
}

// The generator read back by the engine's own LTC reader is one clock: every
// reading from the first result on must be within 50 PPM and the drift zero,
// whatever the rate. Read by labels alone, the generator's playing frame is
// one frame ahead of the reader's last finished one: +1 frame, hundreds of
// PPM, "POOR". Each rate on a fresh engine, as the program starts with one.
class TcAccuracyOneClockTest : public TcAccuracyEngineTest,
                               public ::testing::WithParamInterface<ltctest::RateCase> {};

TEST_P(TcAccuracyOneClockTest, TheGeneratorReadBackByTheReaderIsOnePerfectClock)
{
    const ltctest::RateCase rate = GetParam();
    dialog_.reset();
    whileStopped([&] { engine_->setLtcInputPort("LTCGEN"); });
    generator_->setFrameRate(rate.rate);
    generator_->setTimecode({9, 59, 50, 0, rate.dropFrame});
    restartDialog();
    QLabel* drift = labelStartingWith("DRIFT:");
    QLabel* accuracy = labelStartingWith("Accuracy:");
    ASSERT_NE(drift, nullptr);
    ASSERT_NE(accuracy, nullptr);
    displayEveryBlocks_ = 5;
    int results = 0;
    double worstPpm = 0.0;
    QString worstText;
    int64_t worstDrift = 0;
    QString worstDriftText;
    afterDisplay_ = [&] {
        if (!dialog_->isSynced())
            return;
        const int64_t shown = std::abs(drift->text().section(' ', 1, 1).toInt());
        if (shown > worstDrift) {
            worstDrift = shown;
            worstDriftText = drift->text();
        }
        if (!accuracy->text().contains("PPM"))
            return;
        ++results;
        const double ppm = accuracyPpm(accuracy->text());
        if (std::fabs(ppm) >= std::fabs(worstPpm)) {
            worstPpm = ppm;
            worstText = accuracy->text();
        }
    };
    for (int s = 0; s < 72; ++s)
        generatorOnlySecond();
    afterDisplay_ = nullptr;
    ASSERT_TRUE(dialog_->isSynced());
    EXPECT_GT(results, 50) << "results from 60 s on";
    EXPECT_EQ(worstDrift, 0) << worstDriftText.toStdString();
    EXPECT_LT(std::fabs(worstPpm), 50.0) << worstText.toStdString();
    EXPECT_FALSE(accuracy->text().contains("POOR")) << accuracy->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Rates, TcAccuracyOneClockTest, ::testing::ValuesIn(ltctest::allRates()),
                         [](const ::testing::TestParamInfo<ltctest::RateCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == '.')
                                     c = '_';
                             return name;
                         });

// Against an external source of its own (exact 25 fps LTC from libltc, its
// frames at whatever phase they fall), a generator on the same sample clock
// reads near 0 PPM, and one trimmed 100 PPM fast reads about +100 PPM after
// the same 70 s: the reading follows the generator's frames to the sample,
// not to the frame.
TEST_F(TcAccuracyEngineTest, AccuracyFollowsTheGeneratorsTrimAgainstAnExternalSource)
{
    struct Case {
        double trimPpm;
        double lowPpm;
        double highPpm;
    };
    const Case cases[] = {{0.0, -10.0, 10.0}, {100.0, 90.0, 110.0}, {-100.0, -110.0, -90.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trimPpm);
        dialog_.reset();
        generator_->setFrameRate(LtcEncoder::Fps25);
        generator_->driftPpm.store(c.trimPpm);
        restartDialog();
        for (int s = 0; s < 73; ++s)
            second();
        ASSERT_TRUE(dialog_->isSynced());
        QLabel* accuracy = labelStartingWith("Accuracy:");
        ASSERT_NE(accuracy, nullptr);
        ASSERT_TRUE(accuracy->text().contains("PPM")) << accuracy->text().toStdString();
        const double ppm = accuracyPpm(accuracy->text());
        EXPECT_GE(ppm, c.lowPpm) << accuracy->text().toStdString();
        EXPECT_LE(ppm, c.highPpm) << accuracy->text().toStdString();
    }
    generator_->driftPpm.store(0.0);
}

}  // namespace
