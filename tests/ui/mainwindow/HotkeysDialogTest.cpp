// The hotkey table and its dialog: the bindings a fresh configuration gives,
// what the "hotkey.N" keys hold, and the dialog's edits, reset and close.
// With TONVALE_SCREENSHOT_DIR set, the dialog is saved there as a PNG.

#include "core/ConfigManager.h"
#include "support/TempHome.h"
#include "ui/mainwindow/HotkeysDialog.h"

#include <QDir>
#include <QGroupBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>

#include <string>
#include <vector>

namespace {

class HotkeysDialogTest : public TempHomeTest {
protected:
    // The table is static: every test starts from the configuration.
    void SetUp() override { HotkeysDialog::loadFromConfig(); }

    static std::string stored(int action)
    {
        return ConfigManager::getInstance()->getString("hotkey." + std::to_string(action), "<absent>");
    }
};

struct TableRow {
    int action;
    const char* name;
    const char* defaultKey;
};

const TableRow kTable[] = {
    {0, "Start Recording", "Space"},
    {1, "Stop Recording", "Ctrl+Space"},
    {2, "Slate (Hold)", "S"},
    {3, "Slate Monitor (Hold)", "Shift+S"},
    {4, "COM (Hold)", "C"},
    {5, "Open Playback", "P"},
    {6, "Mark False Take", "Ctrl+F"},
    {7, "Test Tone (1kHz)", "Ctrl+T"},
    {8, "Scene Letter Increment", "Ctrl+S"},
    {9, "Arm/Disarm Track 1", "Ctrl+1"},
    {10, "Arm/Disarm Track 2", "Ctrl+2"},
    {11, "Arm/Disarm Track 3", "Ctrl+3"},
    {12, "Arm/Disarm Track 4", "Ctrl+4"},
    {13, "Arm/Disarm Track 5", "Ctrl+5"},
    {14, "Arm/Disarm Track 6", "Ctrl+6"},
    {15, "Arm/Disarm Track 7", "Ctrl+7"},
    {16, "Arm/Disarm Track 8", "Ctrl+8"},
};

TEST_F(HotkeysDialogTest, FreshConfigurationGivesTheDefaultTable)
{
    for (const TableRow& row : kTable) {
        SCOPED_TRACE(row.name);
        const auto action = static_cast<HotkeysDialog::Action>(row.action);
        EXPECT_EQ(HotkeysDialog::getActionName(action).toStdString(), row.name);
        EXPECT_EQ(HotkeysDialog::getDefaultHotkey(action).toString(QKeySequence::PortableText).toStdString(),
                  row.defaultKey);
        EXPECT_EQ(HotkeysDialog::getHotkey(action), HotkeysDialog::getDefaultHotkey(action));
        EXPECT_EQ(HotkeysDialog::getHotkey(action).count(), 1);
    }
    EXPECT_EQ(HotkeysDialog::getActionName(static_cast<HotkeysDialog::Action>(17)), "Unknown");
    EXPECT_TRUE(HotkeysDialog::getDefaultHotkey(static_cast<HotkeysDialog::Action>(-1)).isEmpty());
}

TEST_F(HotkeysDialogTest, StoredBindingsAreReadAndAnEmptyValueMeansTheDefault)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setString("hotkey.0", "F5");
    config->setString("hotkey.1", "");
    config->setString("hotkey.9", "Ctrl+Shift+1");
    HotkeysDialog::loadFromConfig();
    EXPECT_EQ(HotkeysDialog::getHotkey(HotkeysDialog::StartRecording), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(HotkeysDialog::getHotkey(HotkeysDialog::StopRecording), QKeySequence(Qt::CTRL | Qt::Key_Space));
    EXPECT_EQ(HotkeysDialog::getHotkey(HotkeysDialog::ArmTrack1), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_1));

    // setHotkey changes memory only; saveToConfig writes all seventeen.
    HotkeysDialog::setHotkey(HotkeysDialog::Com, QKeySequence(Qt::Key_K));
    EXPECT_EQ(stored(4), "<absent>");
    HotkeysDialog::saveToConfig();
    EXPECT_EQ(stored(0), "F5");
    EXPECT_EQ(stored(1), "Ctrl+Space");
    EXPECT_EQ(stored(4), "K");
    EXPECT_EQ(stored(16), "Ctrl+8");
    EXPECT_TRUE(home_.configText().contains("hotkey.16=Ctrl+8"));
}

TEST_F(HotkeysDialogTest, DialogShowsTheGroupsRowsAndHelp)
{
    HotkeysDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Hotkey Configuration");
    EXPECT_GE(dialog.minimumWidth(), 450);
    EXPECT_GE(dialog.minimumHeight(), 500);
    const auto* help = dialog.findChild<QLabel*>("hotkeysHelp");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->text(), "Click on a field and press the key combination you want to use.\n"
                            "Press Backspace or Delete to clear a hotkey.\n"
                            "If Start Recording and Stop Recording use the same key, that key toggles "
                            "(start when idle, stop when recording).");

    struct Group {
        const char* title;
        std::vector<int> actions;
    };
    const Group groups[] = {{"Transport", {0, 1, 5, 6, 7}},
                            {"Metadata", {8}},
                            {"Communication", {2, 3, 4}},
                            {"Track Arming", {9, 10, 11, 12, 13, 14, 15, 16}}};
    const QList<QGroupBox*> boxes = dialog.findChildren<QGroupBox*>();
    ASSERT_EQ(boxes.size(), 4);
    for (int index = 0; index < 4; ++index) {
        SCOPED_TRACE(groups[index].title);
        EXPECT_EQ(boxes[index]->title().toStdString(), groups[index].title);
        auto* grid = qobject_cast<QGridLayout*>(boxes[index]->layout());
        ASSERT_NE(grid, nullptr);
        for (size_t row = 0; row < groups[index].actions.size(); ++row) {
            const auto action = static_cast<HotkeysDialog::Action>(groups[index].actions[row]);
            auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(static_cast<int>(row), 0)->widget());
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), HotkeysDialog::getActionName(action) + ":");
            EXPECT_EQ(grid->itemAtPosition(static_cast<int>(row), 1)->widget(), dialog.editFor(action));
            EXPECT_EQ(dialog.editFor(action)->keySequence(), HotkeysDialog::getDefaultHotkey(action));
        }
    }
    auto* grid = qobject_cast<QGridLayout*>(boxes[2]->layout());
    auto* note = qobject_cast<QLabel*>(grid->itemAtPosition(3, 1)->widget());
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "(Slate and COM are press-and-hold keys.\n Slate Monitor sends to output only, not recorded.)");

    const QString dir = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        dialog.show();
        QTest::qWait(50);
        dialog.grab().save(QDir(dir).filePath("hotkeys_dialog.png"));
        dialog.findChild<QScrollArea*>()->ensureWidgetVisible(dialog.editFor(HotkeysDialog::ArmTrack8));
        QTest::qWait(50);
        dialog.grab().save(QDir(dir).filePath("hotkeys_dialog_arming.png"));
    }
}

// Each edit holds one key combination: a second key replaces the first
// instead of making a chord, and Backspace or Delete clears the binding.
TEST_F(HotkeysDialogTest, EachEditHoldsOneCombinationAndSavesAtOnce)
{
    HotkeysDialog dialog;
    QSignalSpy changed(&dialog, &HotkeysDialog::hotkeysChanged);
    QKeySequenceEdit* edit = dialog.editFor(HotkeysDialog::OpenPlayback);
    dialog.show();
    edit->setFocus();

    QTest::keyClick(edit, Qt::Key_F7);
    EXPECT_EQ(edit->keySequence(), QKeySequence(Qt::Key_F7));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(stored(5), "F7");
    EXPECT_EQ(HotkeysDialog::getHotkey(HotkeysDialog::OpenPlayback), QKeySequence(Qt::Key_F7));

    QTest::keyClick(edit, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(edit->keySequence(), QKeySequence(Qt::CTRL | Qt::Key_G));
    EXPECT_EQ(edit->keySequence().count(), 1);
    EXPECT_EQ(stored(5), "Ctrl+G");
    QTest::keyClick(edit, Qt::Key_H);
    QTest::keyClick(edit, Qt::Key_J);
    EXPECT_EQ(edit->keySequence(), QKeySequence(Qt::Key_J));
    EXPECT_EQ(stored(5), "J");

    // A lone modifier is no binding: the old one stays.
    const int before = changed.count();
    QTest::keyPress(edit, Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyRelease(edit, Qt::Key_Shift);
    EXPECT_EQ(edit->keySequence(), QKeySequence(Qt::Key_J));
    EXPECT_EQ(changed.count(), before);

    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_TRUE(edit->keySequence().isEmpty());
    EXPECT_EQ(stored(5), "");
    QTest::keyClick(edit, Qt::Key_Q);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_TRUE(edit->keySequence().isEmpty());
    // Every other binding was stored along with it.
    EXPECT_EQ(stored(0), "Space");
    EXPECT_EQ(stored(16), "Ctrl+8");
}

TEST_F(HotkeysDialogTest, ResetToDefaultsChangesOnlyWhatDiffers)
{
    auto dialog = std::make_unique<HotkeysDialog>();
    QSignalSpy changed(dialog.get(), &HotkeysDialog::hotkeysChanged);
    QPushButton* reset = nullptr;
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == "Reset to Defaults")
            reset = button;
    ASSERT_NE(reset, nullptr);

    reset->click();
    EXPECT_EQ(changed.count(), 0);

    dialog->editFor(HotkeysDialog::TestTone)->setKeySequence(QKeySequence(Qt::Key_F9));
    dialog->editFor(HotkeysDialog::ArmTrack8)->setKeySequence(QKeySequence());
    EXPECT_EQ(stored(7), "F9");
    EXPECT_EQ(stored(16), "");
    changed.clear();
    reset->click();
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(stored(7), "Ctrl+T");
    EXPECT_EQ(stored(16), "Ctrl+8");
    EXPECT_EQ(HotkeysDialog::getHotkey(HotkeysDialog::TestTone), QKeySequence(Qt::CTRL | Qt::Key_T));
}

TEST_F(HotkeysDialogTest, ClosingWithoutChangeStoresAllKeysAndEmitsOnce)
{
    ASSERT_EQ(stored(3), "<absent>");
    auto dialog = std::make_unique<HotkeysDialog>();
    QSignalSpy changed(dialog.get(), &HotkeysDialog::hotkeysChanged);
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == "Close")
            button->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    dialog.reset();
    EXPECT_EQ(changed.count(), 1);
    const QString file = home_.configText();
    for (const TableRow& row : kTable) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(stored(row.action), row.defaultKey);
        EXPECT_TRUE(file.contains(QString("hotkey.%1=%2\n").arg(row.action).arg(row.defaultKey)));
    }
}

} // namespace
