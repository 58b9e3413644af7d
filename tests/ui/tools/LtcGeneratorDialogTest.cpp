// The LTC generator dialog wired to the engine as the main window wires it,
// its signal read back from a device output with plain libltc.

#include "ModalBoxAnswerer.h"
#include "engine/RenderTestSupport.h"
#include "core/ConfigManager.h"
#include "timecode/LtcTestSignals.h"
#include "timecode/Timecode.h"
#include "ui/tools/LtcGeneratorDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTime>

#include <cmath>
#include <memory>

namespace {

constexpr uint32_t kBlock = 256;
constexpr size_t kLtcOut = 3;

float peakOf(const std::vector<float>& samples, size_t from)
{
    float peak = 0.0f;
    for (size_t i = from; i < samples.size(); ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

double dbOf(float linear)
{
    return 20.0 * std::log10(static_cast<double>(linear));
}

class LtcGeneratorDialogTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        // The generator reaches a device output through the output routing,
        // whatever the dialog's own channel choice says.
        whileStopped([&] { engine_->applyOutputRouting({}, {}, outputNames_, {}, {}, {}, {outputNames_[kLtcOut]}); });
    }
    void TearDown() override
    {
        // As the main window does at exit: switch off, detach, then destroy.
        engine_->enableLtcGenerator(false);
        engine_->setLtcGenerator(nullptr);
        dialog_.reset();
        encoder_.reset();
        RenderTest::TearDown();
    }

    // A dialog on a generator of its own, as a program started afresh has.
    LtcGeneratorDialog& makeDialog()
    {
        std::unique_ptr<LtcEncoder> encoder = LtcGeneratorDialog::makeEncoder(engine_.get());
        LtcGeneratorDialog& dialog = makeDialogOn(encoder.get());
        encoder_ = std::move(encoder);  // after the dialog that borrowed the old one
        return dialog;
    }
    // As the main window wires it: the engine is handed the generator the
    // dialog was lent. The new dialog is made before the old one goes.
    LtcGeneratorDialog& makeDialogOn(LtcEncoder* encoder)
    {
        if (dialog_) {
            engine_->enableLtcGenerator(false);
            engine_->setLtcGenerator(nullptr);
        }
        dialog_ = std::make_unique<LtcGeneratorDialog>(engine_.get(), encoder);
        LtcGeneratorDialog* dialog = dialog_.get();
        QObject::connect(dialog, &LtcGeneratorDialog::generatorStarted, [this, dialog](int channel) {
            engine_->setLtcGenerator(dialog->getEncoder());
            engine_->setLtcGeneratorOutput(channel);
            engine_->enableLtcGenerator(true);
        });
        QObject::connect(dialog, &LtcGeneratorDialog::generatorStopped,
                         [this] { engine_->enableLtcGenerator(false); });
        return *dialog;
    }

    void dropDialog()
    {
        engine_->enableLtcGenerator(false);
        engine_->setLtcGenerator(nullptr);
        dialog_.reset();
    }

    template <typename T>
    T* child(const QString& text = {}) const
    {
        for (T* widget : dialog_->findChildren<T*>())
            if (text.isEmpty() || widget->property("text").toString() == text)
                return widget;
        return nullptr;
    }
    QComboBox* rateBox() const { return dialog_->findChildren<QComboBox*>()[0]; }
    QComboBox* outputBox() const { return dialog_->findChildren<QComboBox*>()[1]; }
    QComboBox* levelBox() const { return dialog_->findChildren<QComboBox*>()[2]; }
    QSpinBox* timeBox(int i) const { return dialog_->findChildren<QSpinBox*>()[i]; }
    QPushButton* startStop() const
    {
        QPushButton* b = child<QPushButton>("Start");
        return b != nullptr ? b : child<QPushButton>("Stop");
    }
    QLabel* labelStarting(const QString& prefix) const
    {
        for (QLabel* label : dialog_->findChildren<QLabel*>())
            if (label->text().startsWith(prefix))
                return label;
        return nullptr;
    }
    void setStart(int h, int m, int s, int f)
    {
        timeBox(0)->setValue(h);
        timeBox(1)->setValue(m);
        timeBox(2)->setValue(s);
        timeBox(3)->setValue(f);
    }
    std::vector<float> ltcOut(int blocks) { return render(blocks, kBlock)[kLtcOut]; }

    std::unique_ptr<LtcEncoder> encoder_;
    std::unique_ptr<LtcGeneratorDialog> dialog_;
};

TEST_F(LtcGeneratorDialogTest, EachRateStartsAtTheSpinBoxesWithItsDropBitAndLevel)
{
    struct Case {
        int item;
        const char* text;
        int labelFps;
        bool dropBit;
    };
    const Case cases[] = {{0, "23.976 fps", 24, false},
                          {1, "24 fps", 24, false},
                          {2, "25 fps", 25, false},
                          {3, "29.97 fps NDF (Non-Drop Frame)", 30, false},
                          {4, "29.97 fps DF (Drop Frame)", 30, true},
                          {5, "30 fps", 30, false}};
    LtcGeneratorDialog& dialog = makeDialog();
    levelBox()->setCurrentText("-6 dBFS");
    for (const Case& c : cases) {
        rateBox()->setCurrentIndex(c.item);
        ASSERT_EQ(rateBox()->currentText(), c.text);
        setStart(1, 9, 59, 20);
        QSignalSpy started(&dialog, &LtcGeneratorDialog::generatorStarted);
        startStop()->click();
        ASSERT_TRUE(dialog.isGenerating()) << c.text;
        ASSERT_EQ(started.count(), 1);

        const std::vector<float> out = ltcOut(200);  // over a second
        const auto frames = ltctest::plainDecode(out, 0);
        ASSERT_GE(frames.size(), 20u) << c.text;
        // A run stopped mid-frame leaves the encoder mid-frame: the start
        // frame then plays out only in part, and the first whole frame is the
        // one after it.
        const int64_t first = frames[0].startPosition < 200 ? 20 : 21;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int64_t label = Timecode{1, 9, 59, static_cast<int>(first), c.labelFps, c.dropBit}.toFrames()
                                  + static_cast<int64_t>(i);
            const std::string want = ltctest::labelOf(label, c.labelFps, c.dropBit);
            ASSERT_EQ(frames[i].label(c.dropBit), want) << c.text << " frame " << i;
            ASSERT_EQ(frames[i].dropFrame, c.dropBit) << c.text;
        }
        EXPECT_NEAR(dbOf(peakOf(out, 4000)), -6.0, 0.5) << c.text << ": the level survives a rate change";

        startStop()->click();
        EXPECT_FALSE(dialog.isGenerating());
        EXPECT_EQ(rms(ltcOut(4), 0, 1024), 0.0) << c.text;
    }
}

TEST_F(LtcGeneratorDialogTest, ALevelChangeMovesTheRunningPeakAndANewStartBeginsAtTheSpinBoxes)
{
    LtcGeneratorDialog& dialog = makeDialog();
    rateBox()->setCurrentText("25 fps");
    setStart(10, 0, 0, 0);
    startStop()->click();
    EXPECT_NEAR(dbOf(peakOf(ltcOut(100), 0)), -10.0, 0.5);
    // The frame already encoded plays out at the old level; the next ones
    // carry the new one.
    levelBox()->setCurrentText("-18 dBFS");
    EXPECT_NEAR(dbOf(peakOf(ltcOut(100), 4000)), -18.0, 0.5);
    levelBox()->setCurrentText("-3 dBFS");
    EXPECT_NEAR(dbOf(peakOf(ltcOut(100), 4000)), -3.0, 0.5);

    startStop()->click();
    setStart(10, 0, 0, 0);
    startStop()->click();
    const auto frames = ltctest::plainDecode(ltcOut(40), 0);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].label(false), "10:00:00:00") << "not where the last run stopped";
    EXPECT_TRUE(dialog.isGenerating());
}

TEST_F(LtcGeneratorDialogTest, FirstLaunchDefaultsAndTheFramesMaximumPerRate)
{
    const QTime before = QTime::currentTime();
    LtcGeneratorDialog& dialog = makeDialog();
    EXPECT_EQ(dialog.windowTitle(), "LTC Generator");
    EXPECT_EQ(rateBox()->currentText(), "30 fps");
    EXPECT_FALSE(child<QCheckBox>()->isChecked());
    EXPECT_EQ(outputBox()->currentText(), "LTCGEN (Internal Only)");
    EXPECT_EQ(outputBox()->count(), 9);
    EXPECT_EQ(levelBox()->currentText(), "-10 dBFS");
    EXPECT_EQ(dialog.getEncoder()->driftPpm.load(), 0.0);
    EXPECT_FALSE(dialog.isGenerating());
    EXPECT_GE(timeBox(0)->value() * 3600 + timeBox(1)->value() * 60 + timeBox(2)->value(),
              before.hour() * 3600 + before.minute() * 60 + before.second() - 1);
    EXPECT_EQ(timeBox(3)->value(), 0);
    EXPECT_NEAR(dbOf(peakOf(ltctest::generate(*dialog.getEncoder(), 9600, {256}), 0)), -10.0, 0.5);

    const std::pair<const char*, int> maxima[] = {{"25 fps", 24}, {"24 fps", 23}, {"23.976 fps", 23},
                                                   {"30 fps", 29}, {"29.97 fps DF (Drop Frame)", 29}};
    for (const auto& [rate, maximum] : maxima) {
        rateBox()->setCurrentText(rate);
        EXPECT_EQ(timeBox(3)->maximum(), maximum) << rate;
    }
    QSignalSpy started(&dialog, &LtcGeneratorDialog::generatorStarted);
    startStop()->click();
    startStop()->click();
    outputBox()->setCurrentIndex(1);
    startStop()->click();
    ASSERT_EQ(started.count(), 2);
    EXPECT_EQ(started[0][0].toInt(), -1);
    EXPECT_EQ(started[1][0].toInt(), 0);
}

TEST_F(LtcGeneratorDialogTest, RestoresDropFrameRatesAndShowsTheSemicolon)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setInt("ltcgen.framerate", 2997);
    config->setBool("ltcgen.dropframe", true);
    LtcGeneratorDialog& dialog = makeDialog();
    EXPECT_EQ(rateBox()->currentText(), "29.97 fps NDF (Non-Drop Frame)");
    EXPECT_TRUE(child<QCheckBox>()->isChecked());
    startStop()->click();
    render(40, kBlock);
    dialog.updateTimecodeDisplay();
    EXPECT_NE(labelStarting("")->text(), "");
    QLabel* display = nullptr;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text().size() == 11 && label->text()[8] == ';')
            display = label;
    ASSERT_NE(display, nullptr) << "the running display shows ';' before the frames";

    // 30 fps with the box checked by hand carries the flag too.
    rateBox()->setCurrentText("30 fps");
    EXPECT_FALSE(child<QCheckBox>()->isChecked());
    child<QCheckBox>()->setChecked(true);
    EXPECT_TRUE(dialog.getEncoder()->getTimecode().dropFrame);
    // Choosing the rates moves the box.
    rateBox()->setCurrentText("29.97 fps DF (Drop Frame)");
    EXPECT_TRUE(child<QCheckBox>()->isChecked());
    rateBox()->setCurrentText("25 fps");
    EXPECT_FALSE(child<QCheckBox>()->isChecked());
}

TEST_F(LtcGeneratorDialogTest, StoredLevelsUseTheSharedSixLevelIndex)
{
    struct Case {
        const char* stored;
        const char* shown;
        double appliedDb;
        int savedBack;
    };
    const Case cases[] = {{"3", "-10 dBFS", -10.0, 3},  {"5", "-18 dBFS", -18.0, 5}, {"1", "-3 dBFS", -3.0, 1},
                          {"0", "", 0.0, 0},             {"9", "-10 dBFS", -10.0, 3}, {"-1", "-10 dBFS", -10.0, 3},
                          {"loud", "-10 dBFS", -10.0, 3}};
    for (const Case& c : cases) {
        dropDialog();  // its destructor saves its own level
        ConfigManager::getInstance()->setString("ltcgen.level", c.stored);
        LtcGeneratorDialog& dialog = makeDialog();
        EXPECT_EQ(levelBox()->currentText(), c.shown) << c.stored;
        const float peak = peakOf(ltctest::generate(*dialog.getEncoder(), 9600, {256}), 0);
        EXPECT_NEAR(dbOf(peak), c.appliedDb, 0.5) << c.stored;
        dropDialog();  // saves
        EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.level", 99), c.savedBack) << c.stored;
    }
}

TEST_F(LtcGeneratorDialogTest, TheChannelChoiceKeepsTheMainWindowsPortList)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setString("ltcgen.output", outputNames_[3] + "," + outputNames_[4]);
    makeDialog();
    EXPECT_EQ(outputBox()->currentIndex(), 0) << "a port list is not an index";
    outputBox()->setCurrentIndex(2);
    EXPECT_EQ(config->getString("ltcgen.output", ""), outputNames_[3] + "," + outputNames_[4]);
    LtcGeneratorDialog& again = makeDialog();
    EXPECT_EQ(outputBox()->currentIndex(), 2);
    EXPECT_EQ(again.getOutputChannelIndex(), 1);
}

TEST_F(LtcGeneratorDialogTest, ClosingHidesAndARestartedProgramStartsItAgain)
{
    LtcGeneratorDialog& dialog = makeDialog();
    rateBox()->setCurrentText("25 fps");
    dialog.show();
    startStop()->click();
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.isGenerating());
    EXPECT_GT(rms(ltcOut(20), 0, 20 * kBlock), 0.1);

    LtcGeneratorDialog& next = makeDialog();  // the old one saved "running" as it went
    EXPECT_FALSE(next.isGenerating());
    QSignalSpy started(&next, &LtcGeneratorDialog::generatorStarted);
    next.startIfWasRunning();
    EXPECT_TRUE(next.isGenerating());
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(rateBox()->currentText(), "25 fps");
    EXPECT_FALSE(ltctest::plainDecode(ltcOut(100), 0).empty());
}

TEST_F(LtcGeneratorDialogTest, CalibrationEntriesAndTheCurrentCorrection)
{
    LtcGeneratorDialog& dialog = makeDialog();
    ModalBoxAnswerer boxes;
    QLineEdit* number = nullptr;
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>())
        if (edit->placeholderText() == "Enter calibration number...")
            number = edit;
    ASSERT_NE(number, nullptr);
    QPushButton* apply = child<QPushButton>("Apply");
    struct Case {
        const char* text;
        const char* boxTitle;
        const char* label;  // nullptr: unchanged
        double ppm;
    };
    const Case cases[] = {
        {"-1500", "Calibration Applied", "Current: -1.50 PPM (#-1500)", -1.5},
        {"2", "Calibration Applied", "Current: +0.00 PPM (#2)", 0.002},
        {"12.5", "Invalid Input", nullptr, 0.002},
        {"", "Invalid Input", nullptr, 0.002},
        {"150000", "Invalid Input", nullptr, 0.002},
    };
    for (const Case& c : cases) {
        number->setText(c.text);
        const int before = boxes.count();
        apply->click();
        ASSERT_EQ(boxes.count(), before + 1) << c.text;
        EXPECT_EQ(boxes.boxes().back().title, c.boxTitle) << c.text;
        EXPECT_DOUBLE_EQ(dialog.getEncoder()->driftPpm.load(), c.ppm) << c.text;
        if (c.label != nullptr) {
            EXPECT_NE(labelStarting(c.label), nullptr) << c.text;
            EXPECT_TRUE(number->text().isEmpty());
        } else {
            EXPECT_EQ(number->text(), c.text);
        }
    }
    EXPECT_EQ(boxes.boxes()[0].text,
              "Calibration number -1500 applied successfully.\nInternal generator is now calibrated to -1.50 PPM.");
    EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.calibration_number", 0), 2);
    EXPECT_FLOAT_EQ(ConfigManager::getInstance()->getFloat("ltcgen.calibration_ppm", 9.0f), 0.002f);

    // A correction set elsewhere (the accuracy test) shows when the window does.
    dialog.getEncoder()->driftPpm.store(3.25);
    dialog.show();
    EXPECT_NE(labelStarting("Current: +3.25 PPM (#3250)"), nullptr);
    // A stored correction beyond the range is not restored.
    ConfigManager::getInstance()->setFloat("ltcgen.calibration_ppm", 5000.0f);
    LtcGeneratorDialog& next = makeDialog();
    EXPECT_EQ(next.getEncoder()->driftPpm.load(), 0.0);
    EXPECT_TRUE(logHas("refused stored calibration 5000.000000 PPM"));
}

TEST_F(LtcGeneratorDialogTest, TheGeneratorOutlivesItsDialogAndServesTheNextOne)
{
    ModalBoxAnswerer boxes;
    encoder_ = LtcGeneratorDialog::makeEncoder(engine_.get());
    LtcGeneratorDialog& first = makeDialogOn(encoder_.get());
    EXPECT_EQ(first.getEncoder(), encoder_.get());
    rateBox()->setCurrentText("25 fps");
    levelBox()->setCurrentText("-18 dBFS");
    for (QLineEdit* edit : first.findChildren<QLineEdit*>())
        edit->setText("2500");
    child<QPushButton>("Apply")->click();
    startStop()->click();
    ASSERT_TRUE(first.isGenerating());
    EXPECT_FALSE(ltctest::plainDecode(ltcOut(100), 0).empty());

    // Its dialog gone, the generator keeps what was set in it.
    dropDialog();
    EXPECT_EQ(encoder_->getFrameRate(), LtcEncoder::Fps25);
    EXPECT_DOUBLE_EQ(encoder_->driftPpm.load(), 2.5);
    EXPECT_NEAR(dbOf(peakOf(ltctest::generate(*encoder_, 9600, {256}), 0)), -18.0, 0.5);

    // A dialog made again shows that generator's settings and runs it.
    LtcGeneratorDialog& again = makeDialogOn(encoder_.get());
    EXPECT_EQ(again.getEncoder(), encoder_.get());
    EXPECT_EQ(rateBox()->currentText(), "25 fps");
    EXPECT_EQ(levelBox()->currentText(), "-18 dBFS");
    EXPECT_NE(labelStarting("Current: +2.50 PPM (#2500)"), nullptr);
    again.startIfWasRunning();
    ASSERT_TRUE(again.isGenerating());
    const auto frames = ltctest::plainDecode(ltcOut(200), 0);
    ASSERT_GE(frames.size(), 20u);
    int highestFrame = 0;
    for (const ltctest::PlainFrame& frame : frames)
        highestFrame = std::max(highestFrame, frame.frames);
    EXPECT_EQ(highestFrame, 24) << "a second of 25 fps frames";
    EXPECT_NEAR(dbOf(peakOf(ltcOut(20), 0)), -18.0, 0.5);
    EXPECT_EQ(boxes.count(), 1) << "only the calibration's confirmation";
}

}  // namespace
