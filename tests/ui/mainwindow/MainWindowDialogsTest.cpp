#include "MainWindowTestSupport.h"

#include "engine/AudioEngineBase.h"
#include "ui/mainwindow/AppearanceDialog.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/Theme.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs `act` on the device dialog once it is open; `act` closes it.
void whenDeviceDialogOpens(std::function<void(QDialog&)> act, bool* ran)
{
    QTimer::singleShot(20, [act = std::move(act), ran] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog != nullptr && dialog->objectName() == "audioDeviceDialog" && dialog->isVisible()) {
                *ran = true;
                act(*dialog);
                return;
            }
        }
        whenDeviceDialogOpens(act, ran);
    });
}

QPushButton* button(QDialog& dialog, const QString& text)
{
    for (QPushButton* candidate : dialog.findChildren<QPushButton*>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

QStringList comboTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int index = 0; index < combo->count(); ++index)
        texts.append(combo->itemText(index));
    return texts;
}

class MainWindowDeviceTest : public MainWindowTest {
protected:
    void openDeviceDialog(std::function<void(QDialog&)> act)
    {
        bool ran = false;
        whenDeviceDialogOpens(std::move(act), &ran);
        action("&Audio", "Select Audio Device...")->trigger();
        EXPECT_TRUE(ran);
    }
};

// The device dialog's advice must send a Linux user to tools they have, and
// the playback warning's menu path ("Routing > Playback Routing") must exist.
TEST_F(MainWindowDeviceTest, AdviceTextsNameLinuxToolsAndMenusThatExist)
{
    makeWindow();
    QString shown;
    openDeviceDialog([&shown](QDialog& dialog) {
        shown = dialog.windowTitle();
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            shown += "\n" + label->text();
        dialog.reject();
    });
    struct Word {
        const char* text;
        bool wanted;
    };
    const Word words[] = {
        {"Select Audio Device", true},  {"JACK", true},
        {"PipeWire", true},             {"ALSA", true},
        {"CoreAudio", false},           {"Audio MIDI Setup", false},
        {"Applications > Utilities", false}, {"Create Aggregate Device", false},
    };
    for (const Word& word : words)
        EXPECT_EQ(shown.contains(word.text), word.wanted) << word.text << " in:\n" << shown.toStdString();
    EXPECT_NE(action("&Routing", "Playback Routing"), nullptr);
}

TEST_F(MainWindowDeviceTest, DialogListsDevicesInputsAndTheLatency)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    MainWindow& window = makeWindow();
    openDeviceDialog([&window](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QString("Select Audio Device"));
        auto* devices = dialog.findChild<QComboBox*>("deviceCombo");
        QStringList expected;
        for (const std::string& name : window.engine()->getAvailableDevices())
            expected.append(QString::fromStdString(name));
        EXPECT_EQ(comboTexts(devices), expected);
        EXPECT_EQ(devices->currentText(), QString("Virtual Interface"));
        auto* buffers = dialog.findChild<QComboBox*>("bufferCombo");
        EXPECT_EQ(comboTexts(buffers), (QStringList{"64 samples", "128 samples", "256 samples", "512 samples",
                                                    "1024 samples", "2048 samples", "4096 samples"}));
        EXPECT_EQ(buffers->currentText(), QString("256 samples"));
        EXPECT_EQ(dialog.findChild<QLabel*>("latencyLabel")->text(), QString("Latency: ~5.33 ms"));
        buffers->setCurrentIndex(3);
        EXPECT_EQ(dialog.findChild<QLabel*>("latencyLabel")->text(), QString("Latency: ~10.67 ms"));
        EXPECT_EQ(dialog.findChild<QLabel*>("configurationLabel")->text(),
                  QString("Device: Virtual Interface\nSample Rate: 48000 Hz\nBuffer Size: 256 samples\nInput "
                          "Channels: 8\nOutput Channels: 8"));
        EXPECT_EQ(dialog.findChild<QListWidget*>("inputList")->count(), 8);
        button(dialog, "Close")->click();
    });
    EXPECT_EQ(window.engine()->getBufferSize(), 256) << "closing changes nothing";
}

TEST_F(MainWindowDeviceTest, ApplySwitchesTheDeviceAndBufferAndSavesOnlyWhatChanged)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    ModalBoxAnswerer boxes;
    MainWindow& window = makeWindow();
    openDeviceDialog([&](QDialog& dialog) {
        auto* buffers = dialog.findChild<QComboBox*>("bufferCombo");
        buffers->setCurrentIndex(3);
        button(dialog, "Apply")->click();
        EXPECT_EQ(window.engine()->getBufferSize(), 512);
        EXPECT_EQ(window.engine()->getCurrentDeviceName(), "Virtual Interface");

        // The device goes first and opens at its own 256 frames: asking 256
        // then changes no buffer.
        dialog.findChild<QComboBox*>("deviceCombo")->setCurrentText("Virtual Recorder");
        buffers->setCurrentIndex(2);
        button(dialog, "Apply")->click();
        EXPECT_EQ(window.engine()->getBufferSize(), 256);
        EXPECT_EQ(window.engine()->getCurrentDeviceName(), "Virtual Recorder");
        EXPECT_TRUE(window.engine()->isRunning());
        EXPECT_EQ(dialog.findChild<QListWidget*>("inputList")->count(), 4);
        EXPECT_TRUE(dialog.findChild<QLabel*>("configurationLabel")->text().startsWith("Device: Virtual Recorder"));
        buffers->setCurrentIndex(buffers->findData(window.engine()->getBufferSize()));
        button(dialog, "Apply")->click();
        button(dialog, "Close")->click();
    });
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(logCount("Saved audio device preference: Virtual Recorder"), 1u) << "the second Apply did nothing";
    EXPECT_EQ(logCount("Buffer size changed to: 512"), 1u);
    ConfigManager::getInstance()->resetForTests();
    ConfigManager::getInstance()->loadConfig("");
    EXPECT_EQ(ConfigManager::getInstance()->getString("audio.device", ""), "Virtual Recorder");
}

TEST_F(MainWindowDeviceTest, RefreshDropsARemovedDevice)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    makeWindow();
    openDeviceDialog([this](QDialog& dialog) {
        auto* devices = dialog.findChild<QComboBox*>("deviceCombo");
        ASSERT_TRUE(comboTexts(devices).contains("Virtual Recorder"));
        ASSERT_TRUE(audio_->removeDevice(audio_->findDevice("Virtual Recorder")));
        button(dialog, "Refresh")->click();
        EXPECT_FALSE(comboTexts(devices).contains("Virtual Recorder"));
        EXPECT_EQ(devices->currentText(), QString("Virtual Interface"));
        button(dialog, "Close")->click();
    });
}

TEST_F(MainWindowDeviceTest, ApplyDuringATakeIsRefusedWithABoxAndChangesNothing)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    ModalBoxAnswerer boxes;
    MainWindow& window = makeWindow();
    startTake(*window.engine());
    openDeviceDialog([&](QDialog& dialog) {
        dialog.findChild<QComboBox*>("bufferCombo")->setCurrentIndex(3);
        button(dialog, "Apply")->click();
        dialog.findChild<QComboBox*>("bufferCombo")->setCurrentIndex(2);
        dialog.findChild<QComboBox*>("deviceCombo")->setCurrentText("Virtual Recorder");
        button(dialog, "Apply")->click();
        button(dialog, "Close")->click();
    });
    ASSERT_EQ(boxes.count(), 2);
    EXPECT_EQ(boxes.boxes()[0].title, QString("Error"));
    EXPECT_TRUE(boxes.boxes()[0].text.contains("cannot be changed while a take is recording"));
    EXPECT_EQ(window.engine()->getBufferSize(), 256);
    EXPECT_EQ(window.engine()->getCurrentDeviceName(), "Virtual Interface");
    EXPECT_TRUE(window.engine()->isRecording());
    EXPECT_EQ(ConfigManager::getInstance()->getString("audio.device", ""), "Virtual Interface");
    window.engine()->stopRecording();
}

TEST_F(MainWindowDeviceTest, QuitAsksFirstNoKeepsTheTakeYesEndsIt)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    MainWindow& window = makeWindow();
    startTake(*window.engine());
    {
        ModalBoxAnswerer boxes(QMessageBox::No);
        EXPECT_FALSE(window.close());
        ASSERT_EQ(boxes.count(), 1);
        EXPECT_EQ(boxes.boxes()[0].title, QString("Confirm Exit"));
        EXPECT_EQ(boxes.boxes()[0].text, QString("Are you sure you want to quit Tonvale?"));
        EXPECT_TRUE(window.engine()->isRecording());
    }
    {
        // The box's default is No: a stray Return does not quit.
        ModalBoxAnswerer boxes(QMessageBox::Ok);
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(window.engine()->isRecording());
    }
    ModalBoxAnswerer boxes(QMessageBox::Yes);
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.engine()->isRecording());
}

TEST_F(MainWindowTest, DestructorSavesEveryFaderAndTheGeometry)
{
    seed({{"track.count", 12}});
    MainWindow& window = makeWindow();
    window.mixerStrips()[11].fader->setValue(-125);
    window.move(20, 10);
    window.resize(1300, 900);
    window_.reset();
    ConfigManager* config = ConfigManager::getInstance();
    config->resetForTests();
    config->loadConfig("");
    EXPECT_EQ(config->getInt("fader.11", 0), -125) << "saved at once, not 2 s later";
    EXPECT_EQ(config->getInt("fader.0", 0), -600);
    EXPECT_EQ(config->getInt("window.width", 0), 1300);
    EXPECT_EQ(config->getInt("window.height", 0), 900);
}

TEST_F(MainWindowTest, MenusHoldEveryEntryInOrderWithItsState)
{
    seed({{"audio.beepOnRecord", true}, {"automix.global", false}});
    MainWindow& window = makeWindow();
    struct Entry {
        const char* text; // "|" a separator
        bool checkable;
        bool checked;
        bool enabled;
    };
    const std::vector<std::pair<QString, std::vector<Entry>>> menus = {
        {"&Routing",
         {{"Input Matrix", false, false, true}, {"Output Matrix", false, false, true}, {"|", false, false, true},
          {"AUX Sends", false, false, true}, {"Playback Routing", false, false, true}, {"|", false, false, true},
          {"Save/Load Configuration...", false, false, true}, {"|", false, false, true},
          {"Test Tone (1kHz)", true, false, true}, {"|", false, false, true}, {"Bitbucket Mode", true, false, true}}},
        {"&Media",
         {{"Media Settings", false, false, true}, {"|", false, false, true},
          {"Format External Drive (exFAT)...", false, false, false}}},
        {"&Audio",
         {{"Select Audio Device...", false, false, true}, {"|", false, false, true}, {"Beep on Record", true, true, true}}},
        {"&Controller",
         {{"Select Control Surface", false, false, true}, {"Show Mixer", true, false, true}, {"|", false, false, true},
          {"Auto-fit Tracks + Mixer", true, false, true}, {"|", false, false, true},
          {"Enable Automix", true, false, true}}},
        {"&Tools",
         {{"LTC Generator", false, false, true}, {"TC Accuracy Test...", false, false, true}, {"|", false, false, true},
          {"Offsets...", false, false, true}, {"|", false, false, true}, {"Metadata Manager", false, false, true},
          {"Sound Report", false, false, true}, {"|", false, false, true}, {"Audio Playback", false, false, true},
          {"|", false, false, true}, {"Hotkeys...", false, false, true}, {"|", false, false, true},
          {"File Server...", false, false, true}}},
        {"&Help", {{"Recover Recordings...", false, false, true}}},
    };
    const QList<QAction*> bar = window.menuBar()->actions();
    ASSERT_EQ(bar.size(), static_cast<qsizetype>(menus.size()));
    for (size_t m = 0; m < menus.size(); ++m) {
        SCOPED_TRACE(menus[m].first.toStdString());
        EXPECT_EQ(bar[static_cast<qsizetype>(m)]->text(), menus[m].first);
        const QList<QAction*> entries = bar[static_cast<qsizetype>(m)]->menu()->actions();
        ASSERT_EQ(entries.size(), static_cast<qsizetype>(menus[m].second.size()));
        for (size_t e = 0; e < static_cast<size_t>(entries.size()); ++e) {
            const Entry& expected = menus[m].second[e];
            QAction* entry = entries[static_cast<qsizetype>(e)];
            SCOPED_TRACE(expected.text);
            if (QString(expected.text) == "|") {
                EXPECT_TRUE(entry->isSeparator());
                continue;
            }
            EXPECT_EQ(entry->text(), QString(expected.text));
            EXPECT_EQ(entry->isCheckable(), expected.checkable);
            EXPECT_EQ(entry->isChecked(), expected.checked);
            EXPECT_EQ(entry->isEnabled(), expected.enabled);
        }
    }
}

TEST_F(MainWindowTest, CheckableEntriesStoreTheirKeysAndActOnTheWindow)
{
    MainWindow& window = makeWindow();
    action("&Audio", "Beep on Record")->setChecked(true);
    action("&Controller", "Auto-fit Tracks + Mixer")->setChecked(true);
    action("&Controller", "Enable Automix")->setChecked(false);
    action("&Routing", "Test Tone (1kHz)")->setChecked(true);
    EXPECT_TRUE(window.engine()->isTestToneEnabled());
    window.show();
    action("&Controller", "Show Mixer")->setChecked(true);
    EXPECT_TRUE(window.mixerStrips()[0].stripWidget->isVisible());
    ConfigManager::getInstance()->resetForTests();
    ConfigManager::getInstance()->loadConfig("");
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_TRUE(config->getBool("audio.beepOnRecord", false));
    EXPECT_TRUE(config->getBool("ui.autofit_layout", false));
    EXPECT_FALSE(config->getBool("automix.global", true));
    EXPECT_TRUE(config->getBool("mixer.visible", false));
    EXPECT_EQ(config->getString("testTone", "absent"), "absent");
}

TEST_F(MainWindowTest, TheWindowNotALineEditHasTheFocusWhenShown)
{
    MainWindow& window = makeWindow();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.hasFocus(); }, 2000)) << "the window never took the focus";
    EXPECT_EQ(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);
}

TEST_F(MainWindowTest, RecordStopStandInWithoutImages)
{
    // This test binary's folders hold no artwork.
    MainWindow& window = makeWindow();
    QLabel* standIn = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text() == "Record/Stop")
            standIn = label;
    }
    ASSERT_NE(standIn, nullptr);
    EXPECT_EQ(standIn->size(), QSize(120, 50));
    EXPECT_EQ(standIn->styleSheet(), QString("background-color: #333; color: white; padding: 10px;"));
}

TEST_F(MainWindowTest, MetadataGroupTurnsRedWhileRecording)
{
    MainWindow& window = makeWindow();
    auto* group = window.findChild<QGroupBox*>();
    ASSERT_EQ(group->title(), QString("Recording Metadata"));
    window.updateMetadataGroupStyle(true);
    EXPECT_TRUE(group->styleSheet().contains("background-color: #5a2a2a; border: 2px solid #ff4444"));
    EXPECT_TRUE(group->property("recording").toBool());
    window.updateMetadataGroupStyle(false);
    EXPECT_TRUE(group->styleSheet().contains("background-color: #2a2a2a; border: 2px solid #444444"));
    EXPECT_EQ(window.styleSheet(), darkWindowStyleSheet());
    for (const char* colour : {"#1e1e1e", "#f0f0f0", "#444444", "#0A84FF", "#55aaaa", "#66cccc", "#2a2a2a"})
        EXPECT_TRUE(window.styleSheet().contains(colour)) << colour;
}

TEST(ResourcePath, FirstExistingCandidateOrTheFirstCandidate)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString name = QString("tonvale-resource-test-%1.png").arg(QCoreApplication::applicationPid());
    EXPECT_EQ(findResourcePath(name), appDir + "/" + name);
    const QString upTwo = QDir(appDir + "/../../").absoluteFilePath(name);
    QFile file(upTwo);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(findResourcePath(name), QDir::cleanPath(upTwo));
    QFile::remove(upTwo);

    // The Linux install: bin/tonvale with its images in share/tonvale.
    const QString shareDir = QDir::cleanPath(appDir + "/../share/tonvale");
    const bool shareExisted = QDir(shareDir).exists();
    ASSERT_TRUE(QDir().mkpath(shareDir));
    QFile installed(shareDir + "/" + name);
    ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
    installed.close();
    EXPECT_EQ(findResourcePath(name), shareDir + "/" + name);
    QFile::remove(shareDir + "/" + name);
    if (!shareExisted) {
        QDir().rmdir(shareDir);
        QDir().rmdir(QDir::cleanPath(appDir + "/../share"));
    }
}

TEST_F(MainWindowTest, AppearanceDialogAppliesAndStoresTheChosenTheme)
{
    const QString dark = AppearanceDialog::getThemeStyleSheet(AppearanceDialog::Dark);
    const QString light = AppearanceDialog::getThemeStyleSheet(AppearanceDialog::Light);
    const QString high = AppearanceDialog::getThemeStyleSheet(AppearanceDialog::HighVisibility);
    EXPECT_TRUE(dark.contains("#2a2a2a") && dark.contains("#e0e0e0"));
    EXPECT_TRUE(light.contains("#f5f5f5") && light.contains("#1a1a1a"));
    EXPECT_TRUE(high.contains("#FFFF00") && high.contains("3px") && high.contains("font-size: 14px"));
    EXPECT_FALSE(dark.contains("%1"));
    EXPECT_FALSE(high.contains("%1"));
    EXPECT_EQ(AppearanceDialog::getThemeStyleSheet(static_cast<AppearanceDialog::Theme>(7)), dark);

    AppearanceDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QString("Appearance Settings"));
    const auto radios = dialog.findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 3);
    EXPECT_TRUE(radios[0]->isChecked()) << "no stored theme is Dark";
    radios[1]->click();
    EXPECT_EQ(qApp->styleSheet(), light) << "a click previews the theme";
    for (QPushButton* apply : dialog.findChildren<QPushButton*>()) {
        if (apply->text() == "Apply")
            apply->click();
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(AppearanceDialog::getCurrentTheme(), AppearanceDialog::Light);

    ConfigManager::getInstance()->setInt("appearance.theme", 5);
    AppearanceDialog unknown;
    for (QRadioButton* radio : unknown.findChildren<QRadioButton*>())
        EXPECT_FALSE(radio->isChecked());
}

} // namespace
