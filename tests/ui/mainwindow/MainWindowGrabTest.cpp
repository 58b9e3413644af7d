#include "MainWindowTestSupport.h"

#include "ui/mainwindow/AppearanceDialog.h"
#include "ui/mainwindow/Artwork.h"
#include "ui/common/Theme.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTest>

namespace {

QColor pixelAt(const QImage& image, double x, double y)
{
    return image.pixelColor(static_cast<int>(x * image.width()), static_cast<int>(y * image.height()));
}

TEST(Artwork, EveryImageTheWindowNamesIsDrawnAndInstalledBesideTheExecutable)
{
    const QStringList names = artworkFileNames();
    EXPECT_EQ(names.size(), 13);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(drawArtwork(name).isNull());
        // The build writes them beside this test, where the window looks first.
        EXPECT_FALSE(QImage(findResourcePath(name)).isNull());
    }
    EXPECT_TRUE(drawArtwork("missing.png").isNull());
}

TEST(Artwork, RecordAndStopHalvesDifferAndOnLightsRecord)
{
    const QImage off = drawArtwork("BUTTONS OFF.png");
    const QImage on = drawArtwork("BUTTONS ON.png");
    // Inside the record lamp, towards its rim.
    const QColor recordOff = pixelAt(off, 0.25, 0.7);
    const QColor recordOn = pixelAt(on, 0.25, 0.7);
    const QColor stopOff = pixelAt(off, 0.75, 0.5);
    EXPECT_GT(recordOn.red(), recordOff.red() + 60) << "the record half lights when recording";
    EXPECT_GT(recordOn.red(), recordOn.green() * 2);
    EXPECT_LT(std::abs(stopOff.red() - stopOff.green()), 10) << "the stop half is grey";
    EXPECT_NE(recordOff, stopOff);
}

TEST(Artwork, DriveIconsCarryTheirStateColour)
{
    const std::vector<std::pair<const char*, QColor>> cases = {
        {"int-grn.png", QColor("#34C759")}, {"ext1-red.png", QColor("#ff3333")}, {"ext2-yel.png", QColor("#ffcc00")}};
    for (const auto& [name, colour] : cases) {
        SCOPED_TRACE(name);
        const QImage icon = drawArtwork(name);
        // The status band under the name.
        const QColor band = icon.pixelColor(40, 95);
        const QColor expected = colour.darker(130);
        EXPECT_NEAR(band.red(), expected.red(), 3);
        EXPECT_NEAR(band.green(), expected.green(), 3);
        EXPECT_NEAR(band.blue(), expected.blue(), 3);
    }
}

// The window with 24 tracks and the mixer shown, grabbed for a person to look
// at (run under xvfb-run -a with QT_QPA_PLATFORM=xcb to use the real plugin).
TEST_F(MainWindowTest, GrabWith24TracksAndTheMixerShown)
{
    std::vector<std::pair<std::string, Value>> keys = {
        {"audio.device", std::string("Virtual Interface")},
        {"track.count", 24},
        {"mixer.visible", true},
        {"metadata.project", std::string("Harbour Lights")},
        {"metadata.scene", std::string("12A")},
        {"metadata.take", std::string("7")},
        {"lastRecording.soundRoll", std::string("004")},
        {"lastRecording.scene", std::string("12A")},
        {"lastRecording.take", std::string("06")},
        {"window.width", 1600},
        {"window.height", 1000},
        {"ui.split.tracks", 430},
        {"ui.split.mixer", 330},
    };
    for (int track = 0; track < 24; ++track) {
        keys.emplace_back("track.name." + std::to_string(track), "Mic " + std::to_string(track + 1));
        keys.emplace_back("arm." + std::to_string(track), track < 10);
        keys.emplace_back("fader." + std::to_string(track), -300 + track * 15);
        keys.emplace_back("track.input." + std::to_string(track), std::string(track % 2 ? "Tone 1 kHz -20 dB" : "Tone 440 Hz -12 dB"));
    }
    keys.emplace_back("track.color.3", std::string("#aa3355"));
    seed(keys);
    MainWindow& window = makeWindow();
    window.show();
    audio_->renderBlocks(8, 256);
    QTest::qWait(300);
    const QPixmap grab = window.grab();
    ASSERT_FALSE(grab.isNull());
    EXPECT_TRUE(keepPicture(window, "mainwindow-24"));
    std::printf("Grabbed on %s (%dx%d)\n", qPrintable(QGuiApplication::platformName()), grab.width(), grab.height());
    EXPECT_EQ(window.trackRows().size(), 24u);
    EXPECT_TRUE(window.mixerStrips()[23].stripWidget->isVisible());
    EXPECT_TRUE(window.trackRows()[20].rowWidget->isVisible()) << "the right column shows tracks 17 to 24";
}

// During a take: the record half lit, the metadata group red. Then after the
// stop: the last-take button and the take moved on.
TEST_F(MainWindowTest, GrabDuringATakeAndAfterIt)
{
    AudioEngineFactory::setAudioSystemForEngines(audio_, 4);
    seed({{"audio.device", std::string("Virtual Interface")},
          {"media.saveLocation", home_.pathStd() + "/Takes"},
          {"media.prerollSeconds", 1},
          {"arm.0", true},
          {"arm.2", true},
          {"metadata.project", std::string("Harbour Lights")},
          {"metadata.soundroll", std::string("003")},
          {"metadata.scene", std::string("12A")},
          {"metadata.take", std::string("04")}});
    MainWindow& window = makeWindow();
    window.show();
    ASSERT_TRUE(audio_->renderBlocks(250, 256));
    QLabel* image = window.recordStopButton();
    QTest::mouseClick(image, Qt::LeftButton, Qt::NoModifier, QPoint(4, image->height() / 2));
    ASSERT_TRUE(window.isRecording());
    ASSERT_TRUE(audio_->renderBlocks(100, 256));
    QTest::qWait(200);
    EXPECT_TRUE(keepPicture(window, "mainwindow-recording"));
    const QImage lamp = image->grab().toImage();
    const QColor lit = lamp.pixelColor(lamp.width() / 4, lamp.height() * 7 / 10);
    EXPECT_GT(lit.red(), lit.green() * 2) << "the ON image shows while recording";
    QTest::mouseClick(image, Qt::LeftButton, Qt::NoModifier, QPoint(image->width() - 4, image->height() / 2));
    ASSERT_FALSE(window.isRecording());
    ASSERT_TRUE(audio_->renderBlocks(20, 256));
    QTest::qWait(200);
    EXPECT_TRUE(keepPicture(window, "mainwindow-after-take"));
    EXPECT_EQ(window.lastRecordingText(), QString("Last: 003 / 12A / T04"));
}

TEST_F(MainWindowTest, GrabTheDeviceAndAppearanceDialogs)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    MainWindow& window = makeWindow();
    window.show();
    bool grabbed = false;
    QTimer::singleShot(200, [&grabbed] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr || dialog->objectName() != "audioDeviceDialog")
                continue;
            grabbed = keepPicture(*dialog, "audio-device-dialog");
            dialog->accept();
        }
    });
    window.onCoreAudioDeviceSelection();
    EXPECT_TRUE(grabbed);

    AppearanceDialog appearance;
    appearance.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&appearance));
    EXPECT_TRUE(keepPicture(appearance, "appearance-dialog"));
}

} // namespace
