// The channel strip and the aux sends dialog on a real engine and the
// stepped virtual device: every control reaches its engine setter, loading a
// track writes nothing, stepping and the clipboard, the curve drag, the aux
// dialog's handlers and in-use rules, sends in rendered blocks, and a restart
// from the configuration file.

#include "MixerTestSupport.h"

#include "core/ConfigManager.h"
#include "engine/RenderTestSupport.h"
#include "ui/mixer/AuxSendsDialog.h"
#include "ui/mixer/ChannelStripDialog.h"
#include "ui/mixer/EQVisualizationWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <functional>

namespace {

constexpr uint32_t kBlock = 256;
constexpr int kSettleBlocks = 188;  // one second: faders and filters have settled

class StripEngineTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        ASSERT_TRUE(engine_->stop());
    }
    template <typename T>
    static T* child(QWidget& parent, const QString& name)
    {
        T* found = parent.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    static QPushButton* button(QWidget& parent, const QString& text)
    {
        for (QPushButton* b : parent.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    static void press(QWidget& dialog, Qt::Key key)
    {
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &dialog, key);
    }
    // Everything a strip can change of one track, as the engine reports it.
    std::vector<float> stripState(int track) const
    {
        std::vector<float> state{engine_->getTrackDigitalGain(track),
                                 static_cast<float>(engine_->getTrackHPFEnabled(track)),
                                 engine_->getTrackHPFFrequency(track),
                                 static_cast<float>(engine_->getTrackEQEnabled(track)),
                                 static_cast<float>(engine_->getTrackLimiterEnabled(track)),
                                 engine_->getTrackLimiterThreshold(track)};
        for (int band = 0; band < 3; ++band) {
            float f = 0, g = 0, q = 0;
            engine_->getTrackEQBand(track, band, f, g, q);
            state.insert(state.end(), {f, g, q});
        }
        for (int aux = 0; aux < 4; ++aux)
            state.insert(state.end(), {engine_->getTrackAuxSend(track, aux),
                                       static_cast<float>(engine_->getTrackAuxSendPreFader(track, aux))});
        return state;
    }
    void setNonDefaultStrip(int track)
    {
        engine_->setTrackDigitalGain(track, -3.7f);
        engine_->setTrackHPFFrequency(track, 123.0f);
        engine_->setTrackHPFEnabled(track, true);
        engine_->setTrackEQBand(track, 1, 2345.0f, 5.5f, 0.7f);
        engine_->setTrackEQEnabled(track, true);
        engine_->setTrackLimiterThreshold(track, -12.3f);
        engine_->setTrackLimiterEnabled(track, true);
        engine_->setTrackAuxSend(track, 1, 0.53f);
        engine_->setTrackAuxSendPreFader(track, 1, true);
    }
    // Output channel o's level at the end of a second of constant input.
    std::vector<float> renderConstant(const std::map<uint32_t, float>& inputs)
    {
        EXPECT_TRUE(engine_->start());
        for (const auto& [channel, value] : inputs)
            feed(channel, std::vector<float>(kSettleBlocks * kBlock, value));
        const auto out = render(kSettleBlocks, kBlock);
        EXPECT_TRUE(engine_->stop());
        std::vector<float> last;
        for (const auto& channel : out)
            last.push_back(channel.back());
        return last;
    }

    // The one clipboard the window lends to all its strip dialogs.
    StripClipboard clipboard_;
};

struct ControlCase {
    const char* control;
    int raw;  // slider value, or 1 to check a box
    std::function<float(AudioEngineBase&, int)> getter;
    float expected;
};

TEST_F(StripEngineTest, EveryControlReachesItsEngineSetter)
{
    const int t = 2;
    const ControlCase cases[] = {
        {"trimSlider", 35, [](AudioEngineBase& e, int t) { return e.getTrackDigitalGain(t); }, 3.5f},
        {"trimSlider", -240, [](AudioEngineBase& e, int t) { return e.getTrackDigitalGain(t); }, -24.0f},
        {"hpfCheck", 1, [](AudioEngineBase& e, int t) { return float(e.getTrackHPFEnabled(t)); }, 1.0f},
        {"hpfSlider", 150, [](AudioEngineBase& e, int t) { return e.getTrackHPFFrequency(t); }, 150.0f},
        {"limiterCheck", 1, [](AudioEngineBase& e, int t) { return float(e.getTrackLimiterEnabled(t)); }, 1.0f},
        {"limiterSlider", -125, [](AudioEngineBase& e, int t) { return e.getTrackLimiterThreshold(t); }, -12.5f},
        {"eqCheck", 1, [](AudioEngineBase& e, int t) { return float(e.getTrackEQEnabled(t)); }, 1.0f},
        {"eq.low.freq", 250, [](AudioEngineBase& e, int t) { float f, g, q; e.getTrackEQBand(t, 0, f, g, q); return f; }, 250.0f},
        {"eq.low.gain", 73, [](AudioEngineBase& e, int t) { float f, g, q; e.getTrackEQBand(t, 0, f, g, q); return g; }, 7.3f},
        {"eq.mid.gain", -45, [](AudioEngineBase& e, int t) { float f, g, q; e.getTrackEQBand(t, 1, f, g, q); return g; }, -4.5f},
        {"eq.mid.q", 42, [](AudioEngineBase& e, int t) { float f, g, q; e.getTrackEQBand(t, 1, f, g, q); return q; }, 4.2f},
        {"eq.high.freq", 12000, [](AudioEngineBase& e, int t) { float f, g, q; e.getTrackEQBand(t, 2, f, g, q); return f; }, 12000.0f},
        {"eq.high.q", 25, [](AudioEngineBase& e, int t) { float f, g, q; e.getTrackEQBand(t, 2, f, g, q); return q; }, 2.5f},
        {"aux2Send", 53, [](AudioEngineBase& e, int t) { return e.getTrackAuxSend(t, 1); }, 0.53f},
        {"aux3Pre", 1, [](AudioEngineBase& e, int t) { return float(e.getTrackAuxSendPreFader(t, 2)); }, 1.0f},
    };
    ChannelStripDialog dialog(t, "Plant", engine_.get(), clipboard_);
    dialog.show();
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(c.control);
        if (auto* box = dialog.findChild<QCheckBox*>(c.control)) {
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
            ASSERT_TRUE(box->isChecked());
        } else {
            child<QSlider>(dialog, c.control)->setValue(c.raw);
        }
        EXPECT_NEAR(c.getter(*engine_, t), c.expected, 1e-4);
    }
    // A band's other two values travel with the one that moved.
    float f = 0, g = 0, q = 0;
    engine_->getTrackEQBand(t, 1, f, g, q);
    EXPECT_EQ(f, 1000.0f);
    EXPECT_NEAR(q, 4.2f, 1e-5);
    // Sends and PRE reach the aux sends dialog's keys as well.
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_NEAR(config->getFloat("aux.send.2.1", -1), 0.53f, 1e-6);
    EXPECT_TRUE(config->getBool("aux.send.prefader.2.2", false));
    EXPECT_EQ(child<QLabel>(dialog, "aux2Label")->text(), "53%");
    EXPECT_EQ(child<QLabel>(dialog, "eq.high.freqLabel")->text(), "12.0 kHz");
}

TEST_F(StripEngineTest, OpeningAndSteppingShowTheEngineAndWriteNothing)
{
    setNonDefaultStrip(4);
    engine_->setTrackAuxSend(3, 0, 0.25f);
    ConfigManager* config = ConfigManager::getInstance();
    config->setInt("track.count", 6);
    config->setString("track.name.4", "Boom");
    // A setter called again would rewrite its key.
    config->setString("track.hpf.frequency.4", "999");
    config->setString("track.eq.4.band1.freq", "999");
    const auto before4 = stripState(4);
    const auto before3 = stripState(3);

    ChannelStripDialog dialog(3, "Track 4", engine_.get(), clipboard_);
    dialog.show();
    dialog.setFocus();
    EXPECT_EQ(child<QSlider>(dialog, "aux1Send")->value(), 25);
    press(dialog, Qt::Key_Right);
    ASSERT_EQ(dialog.trackIndex(), 4);
    EXPECT_EQ(dialog.windowTitle(), "Channel Strip - Boom");

    EXPECT_EQ(child<QSlider>(dialog, "trimSlider")->value(), -37);
    EXPECT_TRUE(child<QCheckBox>(dialog, "hpfCheck")->isChecked());
    EXPECT_EQ(child<QSlider>(dialog, "hpfSlider")->value(), 123);
    EXPECT_TRUE(child<QCheckBox>(dialog, "eqCheck")->isChecked());
    EXPECT_EQ(child<QSlider>(dialog, "eq.mid.freq")->value(), 2345);
    EXPECT_EQ(child<QSlider>(dialog, "eq.mid.gain")->value(), 55);
    EXPECT_EQ(child<QSlider>(dialog, "eq.mid.q")->value(), 7);
    EXPECT_EQ(child<QSlider>(dialog, "limiterSlider")->value(), -123);
    EXPECT_EQ(child<QSlider>(dialog, "aux2Send")->value(), 53);
    EXPECT_TRUE(child<QCheckBox>(dialog, "aux2Pre")->isChecked());
    EXPECT_EQ(child<QLabel>(dialog, "eq.mid.freqLabel")->text(), "2.3 kHz");
    EXPECT_EQ(child<QLabel>(dialog, "trimLabel")->text(), "-3.7 dB");
    auto* curve = dialog.findChild<EQVisualizationWidget*>();
    EXPECT_TRUE(curve->isEqEnabled());
    EXPECT_FLOAT_EQ(curve->band(1).gain, 5.5f);

    EXPECT_EQ(stripState(4), before4);
    EXPECT_EQ(stripState(3), before3);
    EXPECT_EQ(config->getString("track.hpf.frequency.4", ""), "999");
    EXPECT_EQ(config->getString("track.eq.4.band1.freq", ""), "999");
}

TEST_F(StripEngineTest, ArrowsStepWithoutWrapAndSaveTheTrackLeft)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setInt("track.count", 3);
    ChannelStripDialog dialog(1, "Track 2", engine_.get(), clipboard_);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.setFocus();
    child<QSlider>(dialog, "eq.low.gain")->setValue(-20);
    press(dialog, Qt::Key_Right);
    EXPECT_EQ(dialog.trackIndex(), 2);
    EXPECT_EQ(dialog.windowTitle(), "Channel Strip - Track 3");
    const char* const fields[] = {"gain", "hpf.enabled", "hpf.freq", "eq.enabled", "eq.low.freq", "eq.low.gain",
                                  "eq.low.q", "eq.mid.freq", "eq.mid.gain", "eq.mid.q", "eq.high.freq",
                                  "eq.high.gain", "eq.high.q", "limiter.enabled", "limiter.threshold"};
    for (const char* field : fields)
        EXPECT_NE(config->getString(std::string("channelstrip.1.") + field, "absent"), "absent") << field;
    EXPECT_EQ(config->getInt("channelstrip.1.eq.low.gain", 0), -20);
    EXPECT_EQ(config->getInt("channelstrip.1.limiter.threshold", 0), -60);

    press(dialog, Qt::Key_Right);  // the last track: no wrap
    EXPECT_EQ(dialog.trackIndex(), 2);

    // A focused styled slider on the last track takes the key itself.
    QSlider* trim = child<QSlider>(dialog, "trimSlider");
    trim->setFocus();
    const int trimBefore = trim->value();
    QTest::keyClick(trim, Qt::Key_Right);
    EXPECT_EQ(dialog.trackIndex(), 2);
    EXPECT_NE(trim->value(), trimBefore);
    // Elsewhere a focused styled slider steps tracks...
    QTest::keyClick(trim, Qt::Key_Left);
    EXPECT_EQ(dialog.trackIndex(), 1);
    // ...while a focused EQ slider keeps its arrows.
    QSlider* mid = child<QSlider>(dialog, "eq.mid.freq");
    mid->setFocus();
    QTest::keyClick(mid, Qt::Key_Left);
    EXPECT_EQ(dialog.trackIndex(), 1);
    EXPECT_EQ(mid->value(), 999);
    dialog.setFocus();
    press(dialog, Qt::Key_Left);
    press(dialog, Qt::Key_Left);
    EXPECT_EQ(dialog.trackIndex(), 0);
}

TEST_F(StripEngineTest, CopyPasteAndResetLeaveTheSendsAlone)
{
    ChannelStripDialog alreadyOpen(5, "Track 6", engine_.get(), clipboard_);
    const bool pasteBefore = button(alreadyOpen, "📄 PASTE")->isEnabled();
    setNonDefaultStrip(0);
    engine_->setTrackAuxSend(1, 3, 0.4f);
    {
        ChannelStripDialog source(0, "Track 1", engine_.get(), clipboard_);
        QTest::mouseClick(button(source, "📋 COPY"), Qt::LeftButton);
        EXPECT_TRUE(button(source, "📄 PASTE")->isEnabled());
        EXPECT_EQ(child<QLabel>(source, "feedbackLabel")->text(), "✓ Settings Copied");
    }
    EXPECT_EQ(button(alreadyOpen, "📄 PASTE")->isEnabled(), pasteBefore) << "an open dialog keeps its PASTE state";

    ChannelStripDialog target(1, "Track 2", engine_.get(), clipboard_);
    ASSERT_TRUE(button(target, "📄 PASTE")->isEnabled());
    QTest::mouseClick(button(target, "📄 PASTE"), Qt::LeftButton);
    auto pasted = stripState(1);
    auto source = stripState(0);
    // Sends are the last eight values; everything before them is the strip.
    EXPECT_EQ(std::vector<float>(pasted.begin(), pasted.end() - 8), std::vector<float>(source.begin(), source.end() - 8));
    EXPECT_EQ(engine_->getTrackAuxSend(1, 3), 0.4f);
    EXPECT_EQ(engine_->getTrackAuxSend(1, 1), 0.0f);

    QTest::mouseClick(button(target, "🔄 RESET"), Qt::LeftButton);
    EXPECT_EQ(engine_->getTrackLimiterThreshold(1), -6.0f);
    EXPECT_FALSE(engine_->getTrackEQEnabled(1));
    EXPECT_EQ(engine_->getTrackDigitalGain(1), 0.0f);
    float f = 0, g = 0, q = 0;
    engine_->getTrackEQBand(1, 1, f, g, q);
    EXPECT_EQ(f, 1000.0f);
    EXPECT_EQ(g, 0.0f);
    EXPECT_EQ(q, 1.0f);
    EXPECT_EQ(engine_->getTrackAuxSend(1, 3), 0.4f);
    EXPECT_EQ(child<QLabel>(target, "feedbackLabel")->text(), "✓ Channel Reset");
}

TEST_F(StripEngineTest, WithoutAnEngineTheConfigurationIsShown)
{
    ConfigManager* config = ConfigManager::getInstance();
    const std::pair<const char*, const char*> keys[] = {
        {"track.digitalGain.7", "4.5"},         {"track.limiter.enabled.7", "true"},
        {"track.limiter.threshold.7", "-9.5"}, {"track.hpf.enabled.7", "true"},
        {"track.hpf.frequency.7", "140"},      {"track.eq.enabled.7", "true"},
        {"track.eq.7.band2.freq", "8000"},     {"track.eq.7.band2.gain", "-2.5"},
        {"track.eq.7.band2.q", "3"},           {"aux.send.7.0", "0.35"},
        {"aux.send.prefader.7.0", "true"}};
    for (const auto& [key, value] : keys)
        config->setString(key, value);
    ChannelStripDialog dialog(7, "Track 8", nullptr, clipboard_);
    EXPECT_EQ(child<QSlider>(dialog, "trimSlider")->value(), 45);
    EXPECT_EQ(child<QSlider>(dialog, "limiterSlider")->value(), -95);
    EXPECT_EQ(child<QSlider>(dialog, "hpfSlider")->value(), 140);
    EXPECT_EQ(child<QSlider>(dialog, "eq.high.freq")->value(), 8000);
    EXPECT_EQ(child<QSlider>(dialog, "eq.high.gain")->value(), -25);
    EXPECT_EQ(child<QSlider>(dialog, "eq.high.q")->value(), 30);
    EXPECT_EQ(child<QSlider>(dialog, "eq.low.freq")->value(), 100);
    EXPECT_EQ(child<QSlider>(dialog, "aux1Send")->value(), 35);
    EXPECT_TRUE(child<QCheckBox>(dialog, "aux1Pre")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(dialog, "eqCheck")->isChecked());
}

TEST_F(StripEngineTest, DraggedLowMarkerReachesTheEngineAndTheSignal)
{
    const int t = 0;
    engine_->setInputRouting({inputNames_[0]});
    engine_->applyOutputRouting({{outputNames_[0]}}, {{}}, outputNames_, {}, {}, {}, {});
    engine_->setTrackArmed(t, true);
    engine_->setTrackGain(t, 1.0f);

    ChannelStripDialog dialog(t, "Boom", engine_.get(), clipboard_);
    dialog.show();
    QTest::mouseClick(child<QCheckBox>(dialog, "eqCheck"), Qt::LeftButton, {}, QPoint(8, 8));
    auto* curve = dialog.findChild<EQVisualizationWidget*>();
    // A size at which whole pixels reach 150 Hz and +3.5 dB exactly.
    curve->setFixedSize(400, 600);
    dialog.adjustSize();
    QApplication::processEvents();
    ASSERT_EQ(curve->size(), QSize(400, 600));
    QTest::mousePress(curve, Qt::LeftButton, {}, curve->markerPosition(0).toPoint());
    QTest::mouseMove(curve, QPoint(117, 229));
    QTest::mouseRelease(curve, Qt::LeftButton, {}, QPoint(117, 229));
    grabAndKeep(&dialog, "channel-strip");

    EXPECT_EQ(child<QSlider>(dialog, "eq.low.freq")->value(), 150);
    EXPECT_EQ(child<QSlider>(dialog, "eq.low.gain")->value(), 35);
    EXPECT_EQ(child<QLabel>(dialog, "eq.low.freqLabel")->text(), "150 Hz");
    EXPECT_EQ(child<QLabel>(dialog, "eq.low.gainLabel")->text(), "3.5 dB");
    float f = 0, g = 0, q = 0;
    engine_->getTrackEQBand(t, 0, f, g, q);
    EXPECT_EQ(f, 150.0f);
    EXPECT_FLOAT_EQ(g, 3.5f);
    EXPECT_FLOAT_EQ(q, 1.0f);

    // A 150 Hz sine comes out 3.5 dB louder: the peaking band at its centre.
    EXPECT_TRUE(engine_->start());
    const double amplitude = 0.1;
    feed(0, sine(150.0, amplitude, kSettleBlocks * kBlock));
    const auto out = render(kSettleBlocks, kBlock);
    const double gainDb = 20 * std::log10(rms(out[0], out[0].size() - 9600, out[0].size()) / (amplitude / std::sqrt(2.0)));
    EXPECT_NEAR(gainDb, 3.5, 0.1);
}

// --- Aux sends dialog -------------------------------------------------------

class AuxDialogEngineTest : public StripEngineTest {
protected:
    std::unique_ptr<AuxSendsDialog> open(int tracks = 3)
    {
        auto dialog = std::make_unique<AuxSendsDialog>(engine_.get(), tracks, outputNames_);
        dialog->show();
        return dialog;
    }
};

struct AuxCase {
    const char* control;
    int value;
    std::function<float(AudioEngineBase&)> getter;
    float expected;
    const char* key;
    const char* storedValue;
};

TEST_F(AuxDialogEngineTest, EachHandlerCallsTheEngineAndWritesItsKey)
{
    const AuxCase cases[] = {
        {"auxLevel0", 75, [](AudioEngineBase& e) { return e.getAuxLevel(0); }, 0.75f, "aux.level.0", "0.750000"},
        {"mixSend2", 40, [](AudioEngineBase& e) { return e.getMixSendLevel(2); }, 0.4f, "aux.mixsend.2", "0.400000"},
        {"mixSend2Pre", 1, [](AudioEngineBase& e) { return float(e.getMixSendPreFader(2)); }, 1.0f,
         "aux.mixsend.prefader.2", "true"},
        {"send2_3", 50, [](AudioEngineBase& e) { return e.getTrackAuxSend(2, 3); }, 0.5f, "aux.send.2.3", "0.500000"},
        {"send1_0Pre", 1, [](AudioEngineBase& e) { return float(e.getTrackAuxSendPreFader(1, 0)); }, 1.0f,
         "aux.send.prefader.1.0", "true"},
        {"auxDelay1", 120, [](AudioEngineBase&) { return 0.0f; }, 0.0f, "aux.delay.1", "120"},
    };
    auto dialog = open();
    for (const AuxCase& c : cases) {
        SCOPED_TRACE(c.control);
        if (auto* box = dialog->findChild<QCheckBox*>(c.control)) {
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            ASSERT_TRUE(box->isChecked());
        } else if (auto* spin = dialog->findChild<QSpinBox*>(c.control)) {
            spin->setValue(c.value);
        } else {
            child<QSlider>(*dialog, c.control)->setValue(c.value);
        }
        EXPECT_NEAR(c.getter(*engine_), c.expected, 1e-6);
        EXPECT_EQ(ConfigManager::getInstance()->getString(c.key, ""), c.storedValue);
    }
    EXPECT_EQ(child<QLabel>(*dialog, "send2_3Label")->text(), "50%");
    EXPECT_EQ(dialog->findChildren<QLabel*>().size() > 0, true);
}

TEST_F(AuxDialogEngineTest, OutputChoicesAndChannelsInUse)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setString("mix.output", outputNames_[0] + ", " + outputNames_[1]);  // the blank keeps Out 2 free
    config->setString("coms.output", outputNames_[2]);
    config->setInt("track.count", 2);
    config->setString("track.output.0", outputNames_[3]);
    config->setString("track.output.5", outputNames_[6]);  // beyond the track count: not in use
    config->setString("aux.output.3", outputNames_[2]);    // stored before coms took it
    auto dialog = open();
    QComboBox* bus0 = child<QComboBox>(*dialog, "auxOutput0");
    QStringList offered;
    for (int i = 0; i < bus0->count(); ++i)
        offered << bus0->itemData(i).toString();
    QStringList expected{""};
    for (size_t o : {1u, 4u, 5u, 6u, 7u})
        expected << QString::fromStdString(outputNames_[o]);
    EXPECT_EQ(offered, expected);

    // The bus whose stored channel is in use elsewhere shows where it goes.
    QComboBox* bus3 = child<QComboBox>(*dialog, "auxOutput3");
    EXPECT_EQ(bus3->currentData().toString().toStdString(), outputNames_[2]);
    EXPECT_EQ(engine_->getAuxOutputIndices(3), std::vector<int>{2});

    chooseEntry(bus0, QString::fromStdString(outputNames_[4]));  // the fifth channel
    EXPECT_EQ(engine_->getAuxOutputIndices(0), std::vector<int>{4});
    EXPECT_EQ(config->getString("aux.output.0", ""), outputNames_[4]);
    chooseEntry(bus0, "(None)");
    EXPECT_TRUE(engine_->getAuxOutputIndices(0).empty());
    EXPECT_EQ(config->getString("aux.output.0", "x"), "");
}

TEST_F(AuxDialogEngineTest, ShowsTheEnginesLevelsAtTheNearestPercentAndCutsTracksAtTwentyFour)
{
    engine_->setTrackAuxSend(2, 1, 0.53f);
    engine_->setAuxLevel(3, 0.29f);
    engine_->setMixSendLevel(0, 0.57f);
    engine_->setMixSendPreFader(0, true);
    auto dialog = open();
    EXPECT_EQ(child<QSlider>(*dialog, "send2_1")->value(), 53);
    EXPECT_EQ(child<QLabel>(*dialog, "send2_1Label")->text(), "53%");
    EXPECT_EQ(child<QSlider>(*dialog, "auxLevel3")->value(), 29);
    EXPECT_EQ(child<QSlider>(*dialog, "mixSend0")->value(), 57);
    EXPECT_TRUE(child<QCheckBox>(*dialog, "mixSend0Pre")->isChecked());
    EXPECT_EQ(dialog->findChild<QWidget*>("sendGridContent")->height(), 220);

    auto many = open(32);
    EXPECT_NE(many->findChild<QSlider*>("send23_0"), nullptr);
    EXPECT_EQ(many->findChild<QSlider*>("send24_0"), nullptr);
}

TEST_F(AuxDialogEngineTest, SendsInRenderedBlocks)
{
    engine_->setInputRouting({inputNames_[0]});
    engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[0]}, {}, {});
    engine_->setTrackArmed(0, true);
    engine_->setTrackGain(0, 1.0f);
    auto dialog = open();
    chooseEntry(child<QComboBox>(*dialog, "auxOutput1"), QString::fromStdString(outputNames_[5]));
    child<QSlider>(*dialog, "auxLevel1")->setValue(80);
    child<QSlider>(*dialog, "send0_1")->setValue(50);
    auto out = renderConstant({{0, 0.2f}});
    EXPECT_NEAR(out[5], 0.2f * 0.5f * 0.8f, 1e-5) << "AUX 2 on channel 6 carries send x level";

    // Post-fader: the fader at -inf silences the send; pre-fader it survives.
    engine_->setTrackGain(0, 0.0f);
    out = renderConstant({{0, 0.2f}});
    EXPECT_NEAR(out[5], 0.0f, 1e-6);
    QCheckBox* pre = child<QCheckBox>(*dialog, "send0_1Pre");
    QTest::mouseClick(pre, Qt::LeftButton, {}, QPoint(5, pre->height() / 2));
    out = renderConstant({{0, 0.2f}});
    EXPECT_NEAR(out[5], 0.2f * 0.5f * 0.8f, 1e-5);

    // The mix bus sent into the aux carries the mix.
    engine_->setTrackGain(0, 1.0f);
    QTest::mouseClick(pre, Qt::LeftButton, {}, QPoint(5, pre->height() / 2));
    child<QSlider>(*dialog, "send0_1")->setValue(0);
    child<QSlider>(*dialog, "mixSend1")->setValue(50);
    out = renderConstant({{0, 0.2f}});
    EXPECT_NEAR(out[0], 0.2f, 1e-5);
    EXPECT_NEAR(out[5], 0.2f * 0.5f * 0.8f, 1e-5);
    grabAndKeep(dialog.get(), "aux-sends");
}

TEST_F(AuxDialogEngineTest, RestartRestoresWhatBothDialogsSet)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setInt("track.count", 3);
    {
        auto dialog = open();
        chooseEntry(child<QComboBox>(*dialog, "auxOutput2"), QString::fromStdString(outputNames_[6]));
        child<QSlider>(*dialog, "auxLevel2")->setValue(65);
        child<QSlider>(*dialog, "auxLevel0")->setValue(10);
        child<QSlider>(*dialog, "mixSend3")->setValue(45);
        QTest::mouseClick(child<QCheckBox>(*dialog, "mixSend3Pre"), Qt::LeftButton, {}, QPoint(5, 5));
        child<QSlider>(*dialog, "send0_2")->setValue(53);
        QTest::mouseClick(child<QCheckBox>(*dialog, "send2_0Pre"), Qt::LeftButton, {}, QPoint(5, 5));
    }
    {
        ChannelStripDialog strip(1, "Track 2", engine_.get(), clipboard_);
        child<QSlider>(strip, "aux4Send")->setValue(77);
        QTest::mouseClick(child<QCheckBox>(strip, "aux4Pre"), Qt::LeftButton, {}, QPoint(8, 8));
        child<QSlider>(strip, "trimSlider")->setValue(-55);
        child<QSlider>(strip, "eq.high.gain")->setValue(45);
    }
    auto getters = [](AudioEngineBase& e) {
        std::vector<float> values;
        for (int aux = 0; aux < 4; ++aux) {
            values.push_back(e.getAuxLevel(aux));
            for (int channel : e.getAuxOutputIndices(aux))
                values.push_back(100.0f + static_cast<float>(channel));
            values.push_back(e.getMixSendLevel(aux));
            values.push_back(e.getMixSendPreFader(aux));
            for (int t = 0; t < 3; ++t) {
                values.push_back(e.getTrackAuxSend(t, aux));
                values.push_back(e.getTrackAuxSendPreFader(t, aux));
            }
        }
        values.push_back(e.getTrackDigitalGain(1));
        float f = 0, g = 0, q = 0;
        e.getTrackEQBand(1, 2, f, g, q);
        values.insert(values.end(), {f, g, q});
        return values;
    };
    const std::vector<float> before = getters(*engine_);
    EXPECT_EQ(engine_->getTrackAuxSend(1, 3), 0.77f);

    // A new process: the store read from the file, a fresh engine, and the
    // window's start-up restore of the aux keys.
    engine_.reset();
    config->resetForTests();
    ASSERT_TRUE(config->loadConfig(""));
    makeEngine(VirtualAudioDescription::builtInDefault());
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    AuxSendsDialog::restoreStoredSettings(engine_.get(), config->getInt("track.count", 8));
    EXPECT_EQ(getters(*engine_), before);
    EXPECT_TRUE(logHas("Restored AUX 3 output: " + outputNames_[6]));
}

}  // namespace
