#pragma once

#include "MainWindowTestSupport.h"

#include <QLabel>
#include <QTest>

#include <sndfile.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct SndInfo {
    int channels = 0;
    int64_t frames = 0;
};

inline SndInfo sndInfo(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return {};
    sf_close(file);
    return {info.channels, info.frames};
}

// Takes recorded from the window on the stepped virtual interface, with a
// ring deep enough for the pre-roll and post-roll.
class MainWindowRecordTest : public MainWindowTest {
protected:
    static constexpr int kRate = 48000;
    static constexpr uint32_t kBlock = 256;

    // A ring that holds the pre-roll and a 10 s post-roll with room to spare.
    void SetUp() override
    {
        MainWindowTest::SetUp();
        AudioEngineFactory::setAudioSystemForEngines(audio_, 16);
    }

    // 8 tracks on inputs 1 to 8, the device LTC on input 8, tracks 1, 3 and 8
    // armed, roll 003, scene 12A, take 04, 1 s pre-roll, and `extra`.
    MainWindow& makeRecordingWindow(int fileFormat, int postrollSeconds = 0,
                                    const std::vector<std::pair<std::string, Value>>& extra = {})
    {
        seed({{"audio.device", std::string("Virtual Interface")},
              {"media.saveLocation", saveLocation()},
              {"media.fileFormat", fileFormat},
              {"media.bitDepth", 24},
              {"media.prerollSeconds", 1},
              {"media.postrollSeconds", postrollSeconds},
              {"track.count", 8},
              {"arm.0", true},
              {"arm.2", true},
              {"arm.7", true},
              {"metadata.project", std::string("Film")},
              {"metadata.soundroll", std::string("003")},
              {"metadata.scene", std::string("12A")},
              {"metadata.take", std::string("04")}});
        seed(extra);
        MainWindow& window = makeWindow();
        const std::vector<std::string> inputs = window.engine()->getAvailableInputChannels();
        EXPECT_EQ(inputs.size(), 8u);
        if (inputs.size() == 8) {
            window.engine()->setLtcInputPort(inputs[7]);
            window.engine()->setLtcInputEnabled(true);
        }
        return window;
    }

    std::string saveLocation() const { return home_.pathStd() + "/Takes"; }

    void render(double seconds)
    {
        const int blocks = static_cast<int>(seconds * kRate / kBlock);
        ASSERT_TRUE(audio_->renderBlocks(blocks, kBlock));
    }

    void clickHalf(bool left)
    {
        QLabel* image = window_->recordStopButton();
        const QPoint at(left ? 2 : image->width() - 2, image->height() / 2);
        QTest::mouseClick(image, Qt::LeftButton, Qt::NoModifier, at);
    }

    // Records a take of `seconds` with the clicks and waits for its files.
    std::vector<std::string> recordTake(double seconds, double postroll = 0.0)
    {
        clickHalf(true);
        EXPECT_TRUE(window_->isRecording());
        render(seconds);
        clickHalf(false);
        EXPECT_FALSE(window_->isRecording());
        render(postroll + 0.2);
        EXPECT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
        return coreEngine()->getLastClosedTakeFiles();
    }

    // After a stop: the take's files are closed and hold the audio.
    void expectClosedTake()
    {
        render(0.2);
        ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
        const std::vector<std::string> files = coreEngine()->getLastClosedTakeFiles();
        ASSERT_FALSE(files.empty());
        for (const std::string& file : files)
            EXPECT_GT(sndInfo(file).frames, kRate / 10) << file;
    }
};
