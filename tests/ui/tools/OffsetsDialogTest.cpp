// The offsets dialog: what it shows and stores, and that the offset moves the
// next take's start time (read back with ffprobe) by whole frames.

#include "ModalBoxAnswerer.h"
#include "engine/TakeRoadSupport.h"
#include "core/ConfigManager.h"
#include "support/ExternalTool.h"
#include "ui/tools/OffsetsDialog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace {

constexpr uint64_t kSecond = 48000;

QPushButton* button(QWidget& dialog, const QString& text)
{
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}
QString currentText(QWidget& dialog)
{
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text().startsWith("Current:"))
            return label->text();
    return {};
}

class OffsetsDialogTest : public TakeRoadTest {
protected:
    // Records a one-second take (no pre- or post-roll) and returns its file
    // and the ring position of its start.
    std::string recordTake(uint64_t& startPosition)
    {
        step(kSecond / 2);
        startPosition = writePosition();
        EXPECT_TRUE(engine_->startRecording());
        step(kSecond);
        EXPECT_TRUE(engine_->stopRecording());
        step(kSecond / 4);
        EXPECT_TRUE(waitUntilIdle());
        const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
        return files.empty() ? std::string() : files.front();
    }

    // The bext time reference as ffprobe reads it; -1 when it cannot.
    static int64_t timeReference(const std::string& file)
    {
        if (file.empty())
            return -1;
        const ToolResult r =
            runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format", QString::fromStdString(file)});
        EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
        const QJsonObject tags =
            QJsonDocument::fromJson(r.standardOutput.toUtf8()).object()["format"].toObject()["tags"].toObject();
        return tags["time_reference"].toString().toLongLong();
    }
};

TEST_F(OffsetsDialogTest, ShowsTheStoredOffsetAndAppliesOrResetsIt)
{
    ModalBoxAnswerer boxes;
    {
        OffsetsDialog dialog(nullptr);
        EXPECT_EQ(dialog.windowTitle(), "Offsets Configuration");
        EXPECT_EQ(dialog.findChild<QSpinBox*>()->value(), 0);
        EXPECT_EQ(currentText(dialog), "Current: 0 frames");
    }
    ConfigManager::getInstance()->setInt("timecode.frame_offset", 250);
    OffsetsDialog dialog(nullptr);
    QSpinBox* box = dialog.findChild<QSpinBox*>();
    EXPECT_EQ(box->value(), 100);
    EXPECT_EQ(currentText(dialog), "Current: 250 frames");
    box->setValue(-7);
    EXPECT_EQ(currentText(dialog), "Current: 250 frames") << "the box alone stores nothing";
    EXPECT_EQ(ConfigManager::getInstance()->getInt("timecode.frame_offset", 0), 250);
    button(dialog, "Apply")->click();
    EXPECT_EQ(ConfigManager::getInstance()->getInt("timecode.frame_offset", 0), -7);
    EXPECT_EQ(currentText(dialog), "Current: -7 frames");
    button(dialog, "Reset to 0")->click();
    EXPECT_EQ(box->value(), 0);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("timecode.frame_offset", 99), 0);
    ASSERT_EQ(boxes.count(), 2);
    EXPECT_EQ(boxes.boxes()[0].title, "Offsets Applied");
    EXPECT_EQ(boxes.boxes()[0].text,
              "Timecode frame offset set to -7.\nApplied on top of built-in alignment for all future recordings.");
    EXPECT_EQ(boxes.boxes()[1].text,
              "Timecode frame offset set to 0.\nApplied on top of built-in alignment for all future recordings.");
    // Saved to the file, not only to the store.
    ConfigManager::getInstance()->setInt("timecode.frame_offset", 42);
    ASSERT_TRUE(ConfigManager::getInstance()->loadConfig(""));
    EXPECT_EQ(ConfigManager::getInstance()->getInt("timecode.frame_offset", 99), 0);
}

TEST_F(OffsetsDialogTest, MinusFiveStartsTheNextTakeFiveFramesEarlier)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    setUpTakeRoad(8, kFileFormatPolyphonic);
    engine_->setForcedFramerate(25.0);
    engine_->setPrerollDuration(0);
    engine_->setPostrollDuration(0);
    armTracks({0, kLtcChannel});
    step(kSecond);

    uint64_t firstStart = 0;
    const std::string firstFile = recordTake(firstStart);

    ModalBoxAnswerer boxes;
    {
        OffsetsDialog dialog(engine_.get());
        dialog.findChild<QSpinBox*>()->setValue(-5);
        button(dialog, "Apply")->click();
    }
    uint64_t secondStart = 0;
    const std::string secondFile = recordTake(secondStart);
    // ffprobe runs only once both takes are closed: Qt starts a child with
    // vfork, whose descriptor work ThreadSanitizer books to the main thread,
    // so a child between two takes reads as a race on the next take's file.
    const int64_t first = timeReference(firstFile);
    const int64_t second = timeReference(secondFile);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    // The device's LTC runs with the ring: without an offset the second take
    // would start (secondStart - firstStart) samples after the first.
    const int64_t withoutOffset = first + static_cast<int64_t>(secondStart - firstStart);
    EXPECT_EQ(second, withoutOffset - 5 * 1920);
}

}  // namespace
