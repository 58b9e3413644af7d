// Quitting after a configuration snapshot was loaded: the restart that
// follows the load must end this window without a question, end a running
// take, and leave the configuration file as the snapshot made it.

#include "MainWindowTestSupport.h"
#include "engine/AudioEngineBase.h"
#include "ui/common/FaderSlider.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QFile>

namespace {

QByteArray fileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

TEST_F(MainWindowTest, AfterASnapshotLoadQuitAsksNothingEndsTheTakeAndWritesNoConfiguration)
{
    seed({{"audio.device", std::string("Virtual Interface")},
          {"media.saveLocation", home_.pathStd() + "/Recordings"},
          {"fader.0", -300},
          {"window.x", 100},
          {"window.y", 60},
          {"window.width", 1300},
          {"window.height", 850}});
    MainWindow& window = makeWindow();
    AudioEngineBase& engine = *window.engine();
    ASSERT_NO_FATAL_FAILURE(startTake(engine));

    // The window holds other values than the file when the snapshot is loaded.
    window.mixerStrips()[0].fader->setValue(-125);
    window.move(300, 200);
    window.resize(1100, 800);
    ConfigManager* config = ConfigManager::getInstance();
    config->saveConfig("");
    const std::string path = config->getConfigPath();
    const QByteArray snapshot = "# loaded snapshot\nfader.0=-300\nwindow.x=100\n";
    {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(snapshot);
    }
    config->loadConfig("");
    config->sealForRestart(); // what a successful load does

    ModalBoxAnswerer boxes(QMessageBox::No);
    EXPECT_TRUE(window.close()) << "a Confirm Exit answered No would keep the old instance alive";
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_FALSE(engine.isRecording());

    window_.reset(); // the destructor would store faders and geometry
    EXPECT_EQ(fileBytes(path), snapshot);
}

} // namespace
