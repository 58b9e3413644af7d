// The routing matrices on a real engine and the stepped virtual device: what
// the dialogs report, applied the way the main window's routing handlers
// apply it on every change, reaches the engine's routing snapshot and the
// rendered outputs.

#include "MixerTestSupport.h"

#include "engine/RenderTestSupport.h"
#include "timecode/LtcEncoder.h"
#include "ui/mixer/InputMatrixDialog.h"
#include "ui/mixer/OutputMatrixDialog.h"
#include "ui/mixer/PortList.h"

#include <QComboBox>
#include <QTableWidget>

#include <ltc.h>

namespace {

constexpr uint32_t kBlock = 256;
constexpr int kSettleBlocks = 188;  // one second: the faders have settled

int decodedFrames(const std::vector<float>& signal)
{
    LTCDecoder* decoder = ltc_decoder_create(1920, 32);
    std::vector<float> copy(signal);
    ltc_decoder_write_float(decoder, copy.data(), copy.size(), 0);
    LTCFrameExt frame;
    int frames = 0;
    while (ltc_decoder_read(decoder, &frame))
        ++frames;
    ltc_decoder_free(decoder);
    return frames;
}

class MatrixRoutingEngineTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        // The dialogs change the routing while the stepped unit is stopped;
        // a block is rendered only when the test asks for one.
        ASSERT_TRUE(engine_->stop());
    }
    void TearDown() override
    {
        engine_->setLtcGenerator(nullptr);
        RenderTest::TearDown();
    }

    // What the window does on every configurationChanged of the input matrix.
    void applyInputLive(const InputMatrixDialog& dialog)
    {
        std::vector<std::string> inputs;
        for (const auto& row : dialog.getRoutingMatrix())
            inputs.push_back(row.empty() ? "(None)" : row.front());
        engine_->setInputRouting(inputs);
        if (!dialog.getLtcInputPort().empty())
            engine_->setLtcInputPort(dialog.getLtcInputPort());
        engine_->setLtcInputEnabled(dialog.isLtcEnabled());
        engine_->setSlateMicPort(dialog.getSlateMicPort());
        engine_->setSlateMicInputEnabled(dialog.isSlateMicEnabled());
        engine_->setSlateMicGain(dialog.getSlateMicGain());
        engine_->setComInput1Port(dialog.getComInput1Port());
        engine_->setComInput1Enabled(dialog.isComInput1Enabled());
        engine_->setComInput2Port(dialog.getComInput2Port());
        engine_->setComInput2Enabled(dialog.isComInput2Enabled());
        // The engine resolves the slate and COM ports when the output routing
        // is applied, so the window applies it again with the stored outputs.
        reapplyOutputs();
    }

    void reapplyOutputs()
    {
        engine_->applyOutputRouting(trackOutputs_, std::vector<std::map<std::string, bool>>(trackOutputs_.size()),
                                    outputNames_, {}, mixPorts_, comsPorts_, ltcGenPorts_);
    }

    // What the window does on every change of the output matrix.
    void applyOutputLive(const OutputMatrixDialog& dialog)
    {
        trackOutputs_ = dialog.getRoutingMatrix();
        mixPorts_ = splitPortList(dialog.getMixOutputPort());
        comsPorts_ = splitPortList(dialog.getComsOutputPort());
        ltcGenPorts_ = splitPortList(dialog.getLtcGenOutputPort());
        reapplyOutputs();
        engine_->setMonitorOutputRouting(splitPortList(dialog.getMonitorOutputPort()), outputNames_);
    }

    std::vector<std::vector<float>> renderSettled()
    {
        std::vector<std::vector<float>> out;
        EXPECT_TRUE(engine_->start());
        feed(2, sine(440.0, 0.5, kSettleBlocks * kBlock));
        out = render(kSettleBlocks, kBlock);
        EXPECT_TRUE(engine_->stop());
        return out;
    }
    std::vector<std::vector<std::string>> trackOutputs_;
    std::vector<std::string> mixPorts_;
    std::vector<std::string> comsPorts_;
    std::vector<std::string> ltcGenPorts_;

    static double tailRms(const std::vector<float>& channel) { return rms(channel, channel.size() - 4800, channel.size()); }
};

TEST_F(MatrixRoutingEngineTest, InputMatrixChangesReachTheEngineWhileOpen)
{
    InputMatrixDialog dialog(inputNames_, 2, {}, {{}, {}});
    QObject::connect(&dialog, &InputMatrixDialog::configurationChanged, [&] { applyInputLive(dialog); });
    dialog.show();
    auto* g = dialog.findChild<QTableWidget*>();
    const auto choosers = dialog.findChildren<QComboBox*>();

    clickCheckCell(g, 0, 3);  // track 1 on input 3
    clickCheckCell(g, 1, 9);  // track 2 on the generator
    chooseEntry(choosers[0], QString::fromStdString(inputNames_[7]));
    chooseEntry(choosers[1], QString::fromStdString(inputNames_[4]));
    chooseEntry(choosers[3], QString::fromStdString(inputNames_[5]));
    chooseEntry(choosers[4], QString::fromStdString(inputNames_[6]));

    auto snapshot = engine_->getRoutingSnapshot();
    ASSERT_GE(snapshot->trackInputs.size(), 2u);
    EXPECT_EQ(snapshot->trackInputs[0], 2);
    EXPECT_EQ(snapshot->trackInputs[1], RoutingSnapshot::kLtcGeneratorChannel);
    EXPECT_EQ(snapshot->ltcInput, 7);
    EXPECT_EQ(snapshot->slateInput, 4);
    EXPECT_EQ(snapshot->com1Input, 5);
    EXPECT_EQ(snapshot->com2Input, 6);

    chooseEntry(choosers[0], "LTCGEN");
    clickCheckCell(g, 0, 3);  // track 1 without input
    snapshot = engine_->getRoutingSnapshot();
    EXPECT_EQ(snapshot->ltcInput, RoutingSnapshot::kLtcGeneratorChannel);
    EXPECT_EQ(snapshot->trackInputs[0], RoutingSnapshot::kNoChannel);
}

TEST_F(MatrixRoutingEngineTest, OutputMatrixChangesReachTheSnapshotAndTheOutputs)
{
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    generator.setTimecode({1, 2, 3, 4, false});
    engine_->setLtcGenerator(&generator);
    engine_->enableLtcGenerator(true);
    engine_->setInputRouting({inputNames_[2]});  // track 1 on input 3
    engine_->setTrackArmed(0, true);
    engine_->setTrackGain(0, 1.0f);

    OutputMatrixDialog dialog(outputNames_, 1, {"Boom"}, {{}}, {{}}, "", "", "", "", &generator);
    QObject::connect(&dialog, &OutputMatrixDialog::configurationChanged, [&] { applyOutputLive(dialog); });
    dialog.show();
    auto* g = dialog.findChild<QTableWidget*>();
    clickCheckCell(g, 3, 2);  // track 1 to output 2
    clickCheckCell(g, 3, 3);  // and output 3
    clickCheckCell(g, 0, 5);  // mix to outputs 5 and 6
    clickCheckCell(g, 0, 6);
    clickCheckCell(g, 1, 7);  // coms to 7
    clickCheckCell(g, 2, 8);  // monitor to 8
    clickCheckCell(g, 4, 4);  // generator to 4

    auto snapshot = engine_->getRoutingSnapshot();
    ASSERT_EQ(snapshot->trackOutputs.size(), 1u);
    EXPECT_EQ(snapshot->trackOutputs[0], (std::vector<int>{1, 2}));
    EXPECT_EQ(snapshot->mixOutputs, (std::vector<int>{4, 5}));
    EXPECT_EQ(snapshot->comsOutputs, (std::vector<int>{6}));
    EXPECT_EQ(snapshot->monitorOutputs, (std::vector<int>{7}));
    EXPECT_EQ(snapshot->ltcGeneratorOutputs, (std::vector<int>{3}));

    auto out = renderSettled();
    const double sineRms = 0.5 / std::sqrt(2.0);
    EXPECT_NEAR(tailRms(out[1]), sineRms, 0.01);
    EXPECT_NEAR(tailRms(out[2]), sineRms, 0.01);
    EXPECT_NEAR(tailRms(out[4]), sineRms, 0.01);
    EXPECT_NEAR(tailRms(out[5]), sineRms, 0.01);
    EXPECT_EQ(tailRms(out[0]), 0.0);
    EXPECT_GE(decodedFrames(out[3]), 20) << "libltc finds the generator's frames on output 4";

    // Unchecking track 1's outputs and the mix's silences them.
    for (const auto& [row, column] : std::vector<std::pair<int, int>>{{3, 2}, {3, 3}, {0, 5}, {0, 6}})
        clickCheckCell(g, row, column);
    out = renderSettled();
    for (int channel : {1, 2, 4, 5})
        EXPECT_EQ(tailRms(out[static_cast<size_t>(channel)]), 0.0) << "output " << channel + 1;
    EXPECT_GE(decodedFrames(out[3]), 20);
}

TEST_F(MatrixRoutingEngineTest, SineOnInputThreeFollowsTheInputMatrix)
{
    trackOutputs_ = {{outputNames_[0]}};
    mixPorts_ = {outputNames_[7]};
    reapplyOutputs();
    engine_->setTrackArmed(0, true);
    engine_->setTrackGain(0, 1.0f);
    InputMatrixDialog dialog(inputNames_, 1, {}, {{}});
    QObject::connect(&dialog, &InputMatrixDialog::configurationChanged, [&] { applyInputLive(dialog); });
    dialog.show();
    auto* g = dialog.findChild<QTableWidget*>();

    clickCheckCell(g, 0, 3);
    auto out = renderSettled();
    EXPECT_NEAR(tailRms(out[0]), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(tailRms(out[7]), 0.5 / std::sqrt(2.0), 0.01);

    clickCheckCell(g, 0, 3);
    out = renderSettled();
    EXPECT_EQ(tailRms(out[0]), 0.0);
    EXPECT_EQ(tailRms(out[7]), 0.0);
}

}  // namespace
