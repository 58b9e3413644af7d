// The playback routing dialog: its items and grid, what it stores, and what
// the engine then plays where.

#include "PlaybackTestSupport.h"
#include "MediaTestFiles.h"
#include "core/ConfigManager.h"
#include "ui/tools/PlaybackRoutingDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

#include <sndfile.h>

namespace {

class PlaybackRoutingDialogTest : public PlaybackToolTest {
protected:
    static std::string key(int c) { return PlaybackRoutingDialog::configKey(c); }
    std::string stored(int c) const { return ConfigManager::getInstance()->getString(key(c), "<absent>"); }
};

TEST_F(PlaybackRoutingDialogTest, NineFixedItemsThenTheOutputsInAGridOfFour)
{
    PlaybackRoutingDialog dialog(engine_.get());
    EXPECT_EQ(dialog.windowTitle(), "Playback Routing");
    QStringList items;
    for (int i = 0; i < dialog.comboBox(0)->count(); ++i)
        items << dialog.comboBox(0)->itemText(i);
    QStringList want{"-- Not Routed --", ">> Mix Output", ">> Mix + Monitor", ">> Monitor Only", ">> Coms Output",
                     ">> AUX 1", ">> AUX 2", ">> AUX 3", ">> AUX 4"};
    for (const std::string& name : outputNames_)
        want << QString::fromStdString(name);
    EXPECT_EQ(items, want);

    auto* grid = qobject_cast<QGridLayout*>(dialog.findChild<QGroupBox*>()->layout());
    ASSERT_NE(grid, nullptr);
    auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(1, 2)->widget());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Ch 6:");
    EXPECT_EQ(grid->itemAtPosition(1, 3)->widget(), dialog.comboBox(5));
}

TEST_F(PlaybackRoutingDialogTest, AChangeStoresAllSixteenKeysAndPlaysBitExactOnTheChosenOutput)
{
    PlaybackRoutingDialog dialog(engine_.get());
    dialog.comboBox(0)->setCurrentText(QString::fromStdString(outputNames_[5]));
    dialog.comboBox(1)->setCurrentText(">> AUX 2");
    dialog.comboBox(1)->setCurrentIndex(0);  // back to not routed: stored empty
    dialog.comboBox(2)->setCurrentText(">> AUX 2");
    for (int c = 0; c < 16; ++c)
        EXPECT_NE(stored(c), "<absent>") << c;
    EXPECT_EQ(stored(0), outputNames_[5]);
    EXPECT_EQ(stored(1), "");
    EXPECT_EQ(stored(2), ">> AUX 2");
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 2]: Aux 2 not configured")) << "the code handed over";

    // Saved to the file, not only to the store.
    const std::string file = readFileBytesAsText(ConfigManager::getInstance()->getConfigPath());
    EXPECT_NE(file.find("playback/output_ch0=" + outputNames_[5]), std::string::npos);

    const std::vector<float> samples = distinctSamples(1, 4800);
    const std::string take = home_.pathStd() + "/take.wav";
    ASSERT_TRUE(writeWavWithSndfile(take, 1, SF_FORMAT_FLOAT, samples));
    ASSERT_TRUE(engine_->startPlayback(take));
    const auto out = play(4800);
    ASSERT_GE(out[5].size(), 4800u);
    for (size_t i = 0; i < 4800; ++i)
        ASSERT_EQ(out[5][i], samples[i]) << i;
}

TEST_F(PlaybackRoutingDialogTest, OpeningAndClosingUnchangedLeavesTheFileByteIdentical)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setString(key(0), ">> Mix Output");
    config->setString(key(3), "Gone Device Out 9");
    ASSERT_TRUE(config->saveConfig(""));
    const std::string before = readFileBytesAsText(config->getConfigPath());
    {
        PlaybackRoutingDialog dialog(engine_.get());
        EXPECT_EQ(dialog.comboBox(0)->currentText(), ">> Mix Output");
        EXPECT_EQ(dialog.comboBox(3)->currentText(), "-- Not Routed --");
        dialog.accept();
    }
    ASSERT_TRUE(config->saveConfig(""));
    EXPECT_EQ(readFileBytesAsText(config->getConfigPath()), before);
    EXPECT_EQ(stored(3), "Gone Device Out 9") << "the key stays until the user changes a choice";
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 3]: No output assigned"));
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 0]: Routed to Mix"));
}

TEST_F(PlaybackRoutingDialogTest, WithoutAnEngineNothingIsSavedOrApplied)
{
    PlaybackRoutingDialog dialog(nullptr);
    EXPECT_EQ(dialog.comboBox(0)->count(), 0);
    dialog.accept();
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(stored(c), "<absent>");
    EXPECT_FALSE(logHas("CoreAudio Playback [Ch"));
}

TEST(PlaybackRoutingCodes, StoredChoicesTranslateToEngineCodes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},           {"-- Not Routed --", ""}, {">> Mix Output", "MIX"}, {">> Mix + Monitor", "MIX+MON"},
        {">> Monitor Only", "MONITOR"}, {">> Coms Output", "COMS"}, {">> AUX 1", "AUX1"}, {">> AUX 4", "AUX4"},
        {"Out 3", "Out 3"}};
    for (const auto& [choice, code] : cases)
        EXPECT_EQ(PlaybackRoutingDialog::outputCodeForChoice(choice), code) << choice;
}

}  // namespace
