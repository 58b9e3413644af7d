// The playback dialog with the engine on the stepped virtual device: what it
// lists and shows, its refusals, and transport checked on the outputs.

#include "ModalBoxAnswerer.h"
#include "PlaybackTestSupport.h"
#include "core/ConfigManager.h"
#include "media/BwfFileWriter.h"
#include "ui/tools/PlaybackDialog.h"
#include "ui/tools/PlaybackRoutingDialog.h"
#include "ui/tools/WaveformWidget.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <sndfile.h>

namespace {

constexpr int64_t kFileFrames = 48000;

class PlaybackDialogTest : public PlaybackToolTest {
protected:
    void SetUp() override
    {
        PlaybackToolTest::SetUp();
        ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/rec");
        ConfigManager::getInstance()->setString("metadata.project", "Film");
        ConfigManager::getInstance()->setString("metadata.soundroll", "R1");
        folder_ = home_.path() + "/rec/Film/R1";
    }

    QString writeTake(const QString& name, int channels, int64_t frames = kFileFrames)
    {
        QDir().mkpath(folder_);
        samples_ = distinctSamples(channels, frames);
        channels_ = channels;
        const QString path = folder_ + "/" + name;
        EXPECT_TRUE(writeWavWithSndfile(path.toStdString(), channels, SF_FORMAT_FLOAT, samples_));
        return path;
    }
    float fileSample(int64_t frame, int channel) const
    {
        return samples_[static_cast<size_t>(frame * channels_ + channel)];
    }
    static void route(int channel, const std::string& choice)
    {
        ConfigManager::getInstance()->setString(PlaybackRoutingDialog::configKey(channel), choice);
    }

    static QListWidget* list(PlaybackDialog& d) { return d.findChild<QListWidget*>(); }
    static QSlider* slider(PlaybackDialog& d) { return d.findChild<QSlider*>(); }
    static QPushButton* button(PlaybackDialog& d, const QString& text)
    {
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    static QLabel* labelWith(PlaybackDialog& d, const QString& part)
    {
        for (QLabel* l : d.findChildren<QLabel*>())
            if (l->text().contains(part))
                return l;
        return nullptr;
    }
    static QStringList names(PlaybackDialog& d)
    {
        QStringList out;
        for (int i = 0; i < list(d)->count(); ++i)
            out << list(d)->item(i)->text();
        return out;
    }

    std::vector<std::vector<float>> playFrames(int64_t frames) { return play(frames); }

    QString folder_;
    std::vector<float> samples_;
    int channels_ = 0;
};

TEST_F(PlaybackDialogTest, ListsTakesOldestFirstWithPlaceholdersWithoutData)
{
    {
        PlaybackDialog dialog(nullptr);
        EXPECT_EQ(dialog.windowTitle(), "Audio Playback");
        EXPECT_EQ(names(dialog), QStringList{"(No recordings folder found)"});
        EXPECT_TRUE(list(dialog)->item(0)->data(Qt::UserRole).isNull());
    }
    QDir().mkpath(folder_ + "/sub.wav");
    {
        PlaybackDialog dialog(nullptr);
        EXPECT_EQ(names(dialog), QStringList{"(No WAV files in folder)"});
        list(dialog)->setCurrentRow(0);
        EXPECT_FALSE(button(dialog, "Play")->isEnabled());
    }
    const QDateTime now = QDateTime::currentDateTime();
    const std::pair<QString, int> takes[] = {{"b.wav", -10}, {"a.Wav", -30}, {"c.WAV", -20}};
    for (const auto& [name, age] : takes) {
        QFile file(writeTake(name, 1, 480));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(now.addSecs(age), QFileDevice::FileModificationTime));
    }
    QFile(folder_ + "/notes.txt").open(QIODevice::WriteOnly);
    PlaybackDialog dialog(nullptr);
    EXPECT_EQ(names(dialog), (QStringList{"a.Wav", "c.WAV", "b.wav"}));
    EXPECT_EQ(list(dialog)->item(0)->data(Qt::UserRole).toString(), QDir(folder_).absoluteFilePath("a.Wav"));
}

TEST_F(PlaybackDialogTest, WithoutASaveLocationListsWhereTheRecorderFilesTakes)
{
    ConfigManager::getInstance()->setString("media.saveLocation", "");
    ConfigManager::getInstance()->setString("metadata.project", "A/B");
    ConfigManager::getInstance()->setString("metadata.soundroll", "");
    folder_ = home_.path() + "/Music/Tonvale Recordings/A_B/001";
    writeTake("t1.wav", 1, 480);
    PlaybackDialog dialog(nullptr);
    EXPECT_EQ(names(dialog), QStringList{"t1.wav"});
}

TEST_F(PlaybackDialogTest, InformationTextShowsFormatAndSceneAndTakeOnlyWhenPresent)
{
    const QString plain = writeTake("plain.wav", 20, 4800);
    // Our own writer's take carries scene and take in bext and iXML.
    const QString scened = folder_ + "/scened.wav";
    {
        BwfFileWriter writer;
        BwfFileWriter::BextChunk bext;
        bext.scene = "12A";
        bext.take = "3";
        writer.setBextChunk(bext);
        ASSERT_TRUE(writer.open(scened.toStdString(), 48000, 2, BwfFileWriter::Int24));
        const std::vector<float> data(9600, 0.1f);
        ASSERT_TRUE(writer.writeFrames(data.data(), 4800));
        ASSERT_TRUE(writer.close());
    }
    PlaybackDialog dialog(nullptr);
    dialog.selectFile(plain);
    QLabel* info = labelWith(dialog, "plain.wav");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->text(), "<b>plain.wav</b><br>Sample Rate: 48000 Hz<br>Channels: 20 <i>(only first 16 routed)</i>"
                            "<br>Bit Depth: 32-bit<br>Duration: 00:00:00");
    EXPECT_TRUE(button(dialog, "Play")->isEnabled());
    EXPECT_TRUE(slider(dialog)->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.waveform()->isLoading(); }, 60000));
    EXPECT_EQ(dialog.waveform()->peaks().size(), 1000u);

    dialog.selectFile(scened);
    EXPECT_EQ(info->text(), "<b>scened.wav</b><br>Sample Rate: 48000 Hz<br>Channels: 2<br>Bit Depth: 24-bit<br>"
                            "Duration: 00:00:00<br><br>Scene: 12A<br>Take: 3");
    EXPECT_EQ(dialog.currentFile(), scened);
}

TEST(PlaybackDialogFormat, DurationsAsHoursMinutesSeconds)
{
    const std::pair<double, const char*> cases[] = {
        {0.0, "00:00:00"}, {59.99, "00:00:59"}, {3725.9, "01:02:05"}, {360000.0, "100:00:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(PlaybackDialog::formatDuration(seconds), text) << seconds;
}

TEST_F(PlaybackDialogTest, RefusalsLeaveTheEngineAloneOrReportIt)
{
    const QString take = writeTake("two.wav", 2);
    route(2, ">> Mix Output");  // the third channel: a 2-channel file plays none of it
    ModalBoxAnswerer boxes;
    PlaybackDialog dialog(engine_.get());
    dialog.selectFile(take);
    button(dialog, "Play")->click();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].title, "No Output Routed");
    EXPECT_EQ(boxes.boxes()[0].text,
              "Please configure playback routing in Routing > Playback Routing before playing.");
    EXPECT_FALSE(engine_->isPlayingBack());
    EXPECT_FALSE(logHas("CoreAudio: Starting playback"));

    // The engine refuses a file that vanished after it was chosen.
    route(1, ">> Mix Output");
    ASSERT_TRUE(QFile::remove(take));
    button(dialog, "Play")->click();
    ASSERT_EQ(boxes.count(), 2);
    EXPECT_EQ(boxes.boxes()[1].title, "Playback Error");
    EXPECT_EQ(boxes.boxes()[1].text, "Failed to start playback. The file may be invalid or in use.");
    EXPECT_EQ(button(dialog, "Play")->text(), "Play");

    // Deleted after listing: the reader's own reason.
    const QString gone = writeTake("gone.wav", 1, 480);
    dialog.onRefreshFiles();
    ASSERT_TRUE(QFile::remove(gone));
    list(dialog)->setCurrentRow(0);
    QLabel* info = labelWith(dialog, "Error reading file: ");
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->text().contains("gone.wav")) << info->text().toStdString();
    EXPECT_TRUE(dialog.waveform()->peaks().empty());
}

TEST_F(PlaybackDialogTest, PlayPauseResumeStopOnTheOutputs)
{
    const QString take = writeTake("take.wav", 2);
    route(0, outputNames_[5]);
    route(1, ">> Mix Output");
    PlaybackDialog dialog(engine_.get());
    dialog.selectFile(take);
    QPushButton* play = button(dialog, "Play");
    play->click();
    ASSERT_TRUE(engine_->isPlayingBack());
    EXPECT_EQ(play->text(), "Stop");
    EXPECT_TRUE(dialog.positionTimer()->isActive());
    EXPECT_EQ(dialog.positionTimer()->interval(), 100);

    auto out = playFrames(9600);
    for (size_t i = 0; i < 9600; ++i) {
        ASSERT_EQ(out[5][i], fileSample(static_cast<int64_t>(i), 0)) << i;
        ASSERT_EQ(out[0][i], fileSample(static_cast<int64_t>(i), 1)) << i;
    }
    const double at = engine_->getPlaybackPosition();
    dialog.updatePlaybackPosition();
    EXPECT_EQ(slider(dialog)->value(), static_cast<int>(at * 1000));
    EXPECT_DOUBLE_EQ(dialog.waveform()->playbackPosition(), at);
    EXPECT_NE(labelWith(dialog, "00:00:00 / 00:00:01"), nullptr);

    QPushButton* pause = button(dialog, "Pause");
    pause->click();
    EXPECT_EQ(pause->text(), "Resume");
    EXPECT_TRUE(engine_->isPlaybackPaused());
    EXPECT_EQ(rms(render(8, kBlock)[5], 0, 8 * kBlock), 0.0);
    EXPECT_EQ(engine_->getPlaybackPosition(), at);
    pause->click();
    EXPECT_EQ(pause->text(), "Pause");
    out = playFrames(256);
    EXPECT_EQ(out[5][0], fileSample(std::llround(at * kRate), 0));

    play->click();
    EXPECT_FALSE(engine_->isPlayingBack());
    EXPECT_EQ(play->text(), "Play");
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_FALSE(dialog.positionTimer()->isActive());
    EXPECT_EQ(slider(dialog)->value(), 0) << "back to where Play started";
}

TEST_F(PlaybackDialogTest, ASeekWhileStoppedIsWherePlayStartsAndStopReturns)
{
    const QString take = writeTake("take.wav", 1);
    route(0, outputNames_[5]);
    PlaybackDialog dialog(engine_.get());
    dialog.selectFile(take);
    dialog.onWaveformSeek(0.5);
    EXPECT_EQ(slider(dialog)->value(), 500);
    EXPECT_NE(labelWith(dialog, "00:00:00 / 00:00:01"), nullptr);
    EXPECT_FALSE(engine_->isPlayingBack());

    button(dialog, "Play")->click();
    EXPECT_DOUBLE_EQ(engine_->getPlaybackPosition(), 0.5);
    const auto out = playFrames(4800);
    for (size_t i = 0; i < 4800; ++i)
        ASSERT_EQ(out[5][i], fileSample(24000 + static_cast<int64_t>(i), 0)) << i;
    dialog.updatePlaybackPosition();
    EXPECT_EQ(slider(dialog)->value(), static_cast<int>(engine_->getPlaybackPosition() * 1000));
    EXPECT_GE(slider(dialog)->value(), 600);

    button(dialog, "Stop")->click();
    EXPECT_EQ(slider(dialog)->value(), 500);
    EXPECT_DOUBLE_EQ(dialog.waveform()->playbackPosition(), 0.5);
    EXPECT_DOUBLE_EQ(dialog.startPositionSeconds(), 0.5);
}

TEST_F(PlaybackDialogTest, AHeldSliderIgnoresTicksAndSeeksOnceOnRelease)
{
    const QString take = writeTake("take.wav", 1);
    route(0, outputNames_[5]);
    PlaybackDialog dialog(engine_.get());
    dialog.selectFile(take);
    button(dialog, "Play")->click();
    playFrames(4800);

    QSlider* positions = slider(dialog);
    emit positions->sliderPressed();
    positions->setValue(750);
    playFrames(2400);
    dialog.updatePlaybackPosition();
    EXPECT_EQ(positions->value(), 750) << "the tick leaves a held slider alone";
    EXPECT_NEAR(engine_->getPlaybackPosition(), 0.15, 0.01) << "no seek while held";
    emit positions->sliderReleased();
    EXPECT_DOUBLE_EQ(engine_->getPlaybackPosition(), 0.75);
    const auto out = playFrames(256);
    EXPECT_EQ(out[5][0], fileSample(36000, 0));
}

TEST_F(PlaybackDialogTest, TheEndOfTheFileStopsAndGivesTheMixBack)
{
    feedLiveMix();
    const QString take = writeTake("take.wav", 1, 4800);
    route(0, ">> Mix Output");
    PlaybackDialog dialog(engine_.get());
    dialog.selectFile(take);
    dialog.onPositionSliderMoved(250);
    button(dialog, "Play")->click();
    playFrames(3600);
    render(4, kBlock);
    dialog.updatePlaybackPosition();

    EXPECT_FALSE(dialog.isPlaying());
    EXPECT_FALSE(engine_->isPlayingBack()) << "the engine alone never notices the end";
    EXPECT_EQ(button(dialog, "Stop"), nullptr);
    EXPECT_NE(button(dialog, "Play"), nullptr);
    EXPECT_EQ(slider(dialog)->value(), 250);
    EXPECT_DOUBLE_EQ(dialog.waveform()->playbackPosition(), 0.25);
    EXPECT_EQ(render(2, kBlock)[0][100], kLiveMix) << "the live mix is back on the mix output";
}

TEST_F(PlaybackDialogTest, SelectFileListsItsFolderAndTheDestructorStopsPlayback)
{
    writeTake("other.wav", 1, 480);
    const QString take = writeTake("take.wav", 1, 4800);
    route(0, outputNames_[5]);
    {
        PlaybackDialog dialog(engine_.get());
        dialog.selectFile(home_.path() + "/nothing-here.wav");
        EXPECT_TRUE(dialog.currentFile().isEmpty());
        dialog.selectFile(take);
        EXPECT_EQ(list(dialog)->currentItem()->text(), "take.wav");
        EXPECT_EQ(dialog.currentFile(), take);
        // A double click runs Play after the click chose the file.
        emit list(dialog)->itemDoubleClicked(list(dialog)->currentItem());
        EXPECT_TRUE(engine_->isPlayingBack());
    }
    EXPECT_FALSE(engine_->isPlayingBack());
}

}  // namespace
