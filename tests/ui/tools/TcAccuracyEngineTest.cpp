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

}  // namespace
