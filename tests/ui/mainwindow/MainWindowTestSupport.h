#pragma once

#include "core/ConfigManager.h"
#include "engine/AudioEngineFactory.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "platform/audio/VirtualAudioDescription.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "platform/midi/DefaultMidiSystem.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "platform/volumes/VirtualVolumeSystem.h"
#include "support/TempHome.h"
#include "support/WidgetLegibility.h"
#include "ui/mainwindow/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// Polls for a visible top-level widget of `className` and hands it to `act`
// (a modal dialog's own event loop runs the poll).
inline void whenShown(const QString& className, std::function<void(QWidget&)> act, int triesLeft)
{
    QTimer::singleShot(20, [className, act = std::move(act), triesLeft] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && className == widget->metaObject()->className()) {
                act(*widget);
                return;
            }
        }
        if (triesLeft > 0)
            whenShown(className, act, triesLeft - 1);
    });
}

// A main window built on a stepped virtual audio system the test keeps, with
// virtual MIDI and virtual volumes (the system root only, so no mount of the
// machine enables the format entry), under a fresh HOME. Seeded keys are
// saved to the file, since the window reloads the configuration when it
// starts its engine.
class MainWindowTest : public TempHomeTest {
public:
    using Value = std::variant<std::string, int, bool, double>;

protected:
    void SetUp() override
    {
        audio_ = std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::Stepped,
                                                      VirtualAudioDescription::builtInDefault());
        AudioEngineFactory::setAudioSystemForEngines(audio_, 1);
        midi_ = std::make_shared<VirtualMidiSystem>();
        setDefaultMidiSystem(midi_);
        volumes_ = std::make_shared<VirtualVolumeSystem>();
        MainWindow::setVolumeSystemForWindows(volumes_);
    }

    void TearDown() override
    {
        window_.reset();
        AudioEngineFactory::setAudioSystemForEngines(nullptr, 1);
        setDefaultMidiSystem(nullptr);
        MainWindow::setVolumeSystemForWindows(nullptr);
        qApp->setStyleSheet(QString());
    }

    void seed(const std::vector<std::pair<std::string, Value>>& keys)
    {
        ConfigManager* config = ConfigManager::getInstance();
        for (const auto& [key, value] : keys) {
            if (auto* text = std::get_if<std::string>(&value))
                config->setString(key, *text);
            else if (auto* number = std::get_if<int>(&value))
                config->setInt(key, *number);
            else if (auto* flag = std::get_if<bool>(&value))
                config->setBool(key, *flag);
            else
                config->setFloat(key, static_cast<float>(std::get<double>(value)));
        }
        config->saveConfig("");
    }

    // A fresh process's configuration and no file.
    void resetConfig()
    {
        ConfigManager* config = ConfigManager::getInstance();
        QFile::remove(QString::fromStdString(config->getConfigPath()));
        config->resetForTests();
    }

    MainWindow& makeWindow()
    {
        window_ = std::make_unique<MainWindow>();
        return *window_;
    }

    // The window on the virtual interface itself, with `keys` seeded.
    MainWindow& makeDeviceWindow(std::vector<std::pair<std::string, Value>> keys = {})
    {
        keys.emplace_back("audio.device", std::string("Virtual Interface"));
        seed(keys);
        return makeWindow();
    }
    AudioEngine_CoreAudio* coreEngine() const { return dynamic_cast<AudioEngine_CoreAudio*>(window_->engine()); }

    // A take on the engine, as a controller's record button would start it.
    void startTake(AudioEngineBase& engine)
    {
        ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/Recordings");
        engine.setInputRouting({"Tone 440 Hz -12 dB"});
        engine.setTrackArmed(0, true);
        audio_->renderBlocks(4, 256);
        ASSERT_TRUE(engine.startRecording());
        audio_->renderBlocks(4, 256);
        ASSERT_TRUE(engine.isRecording());
    }

    QAction* action(const QString& menuTitle, const QString& text) const
    {
        for (QAction* menuAction : window_->menuBar()->actions()) {
            if (menuAction->text() != menuTitle || menuAction->menu() == nullptr)
                continue;
            for (QAction* entry : menuAction->menu()->actions()) {
                if (entry->text() == text)
                    return entry;
            }
        }
        return nullptr;
    }

    static bool keepPicture(QWidget& widget, const QString& name) { return ::keepPicture(widget, name); }

    bool logHas(const std::string& text) const { return home_.logText().find(text) != std::string::npos; }
    size_t logCount(const std::string& text) const
    {
        const std::string log = home_.logText();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

    std::shared_ptr<VirtualAudioSystem> audio_;
    std::shared_ptr<VirtualMidiSystem> midi_;
    std::shared_ptr<VirtualVolumeSystem> volumes_;
    std::unique_ptr<MainWindow> window_;
};
