// The window's hotkeys on an engine double: record and stop only after a
// 600 ms hold counted from the first press, the toggle rule, the text-focus
// gate, the other actions, and a binding changed in the dialog re-keying the
// shortcuts at once. Real keys under X are in tests/app.

#include "MainWindowKeysTestSupport.h"

#include "ui/mainwindow/HotkeyInput.h"
#include "ui/mainwindow/HotkeysDialog.h"
#include "ui/tools/ModalAnswerer.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <chrono>

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

class MainWindowHotkeysTest : public MainWindowKeysTest {
protected:
    void SetUp() override
    {
        MainWindowKeysTest::SetUp();
        HotkeysDialog::loadFromConfig();
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyPress(window_.get(), key, modifiers);
    }
    void release(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyRelease(window_.get(), key, modifiers);
    }

    // Holds a key until the engine has seen `calls` start/stop calls (or 2 s
    // pass), then lets it go.
    void holdUntil(Qt::Key key, Qt::KeyboardModifiers modifiers, size_t calls)
    {
        press(key, modifiers);
        EXPECT_TRUE(QTest::qWaitFor([&] { return takeCalls() >= calls; }, 2000));
        release(key, modifiers);
    }

    size_t takeCalls() const { return engine().callsOf({"startRecording", "stopRecording"}).size(); }
};

// A shortcut fires on every automatic repeat of a held key: the repeats must
// neither restart the hold (it would never run out while the keyboard
// repeats faster than 600 ms) nor start a second take.
TEST_F(MainWindowHotkeysTest, HeldRecordKeyStartsOneTakeCountedFromTheFirstPress)
{
    MainWindow& window = makeShownWindow();
    QShortcut* record = shortcutFor(QKeySequence(Qt::Key_Space));
    ASSERT_NE(record, nullptr);

    // A short press does nothing.
    press(Qt::Key_Space);
    EXPECT_TRUE(window.isHotkeyLongPressArmed());
    EXPECT_EQ(window.hotkeyLongPressTarget(), MainWindow::HotkeyLongPressRecord);
    release(Qt::Key_Space);
    EXPECT_FALSE(window.isHotkeyLongPressArmed());
    EXPECT_EQ(window.hotkeyLongPressTarget(), MainWindow::HotkeyLongPressNone);

    const auto pressedAt = EngineDouble::Clock::now();
    press(Qt::Key_Space);
    for (int repeat = 0; repeat < 9; ++repeat) {
        QTest::qWait(100);
        emit record->activated();
        QKeyEvent autoRepeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
        EXPECT_FALSE(MainWindow::tryConsumeTransportHotkey(&autoRepeat));
    }
    release(Qt::Key_Space);
    ASSERT_EQ(engine().starts.size(), 1u);
    const auto heldMs = duration_cast<milliseconds>(engine().starts[0] - pressedAt).count();
    EXPECT_GE(heldMs, 560);
    EXPECT_LE(heldMs, 850);
    EXPECT_TRUE(window.isRecording());
    EXPECT_EQ(takeCalls(), 1u);
}

// An automatic repeat is a release and a press with the same server time.
// When the press is read late, the release looks real: the hold must go on
// if the press of that time follows, and end if nothing follows.
TEST_F(MainWindowHotkeysTest, ReleaseAndPressOfOneServerTimeAreARepeatNotALetGo)
{
    MainWindow& window = makeShownWindow();
    const struct {
        bool repeatPressFollows;
        unsigned long pressMs;
        size_t startsAfter;
    } cases[] = {{false, 1000, 0u}, {true, 5000, 1u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.repeatPressFollows ? "the repeat's press follows" : "nothing follows");
        QKeyEvent firstPress(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        firstPress.setTimestamp(c.pressMs);
        const auto pressedAt = EngineDouble::Clock::now();
        ASSERT_TRUE(MainWindow::tryConsumeTransportHotkey(&firstPress));

        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
        release.setTimestamp(c.pressMs + 300);
        MainWindow::onTransportHotkeyKeyReleased(&release);
        EXPECT_TRUE(window.isHotkeyLongPressArmed()) << "a release is held back until it is known to be real";
        if (c.repeatPressFollows) {
            QKeyEvent repeatPress(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
            repeatPress.setTimestamp(c.pressMs + 300);
            EXPECT_TRUE(MainWindow::tryConsumeTransportHotkey(&repeatPress));
            ASSERT_TRUE(QTest::qWaitFor([&] { return takeCalls() >= 1; }, 2000)) << "the hold went on";
            const auto heldMs = duration_cast<milliseconds>(engine().starts[0] - pressedAt).count();
            EXPECT_GE(heldMs, 560) << "counted from the first press";
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isHotkeyLongPressArmed(); }, 2000))
                << "the release, once settled, ends the hold";
        }
        EXPECT_EQ(engine().starts.size(), c.startsAfter);
        QKeyEvent finalRelease(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
        MainWindow::onTransportHotkeyKeyReleased(&finalRelease);
    }
    EXPECT_TRUE(window.isRecording());
}

TEST_F(MainWindowHotkeysTest, StopKeyStopsAndKeysInTheWrongStateDoNothing)
{
    MainWindow& window = makeShownWindow();

    // Stop when idle: swallowed, nothing armed.
    QKeyEvent stopPress(QEvent::KeyPress, Qt::Key_Space, Qt::ControlModifier, " ");
    EXPECT_TRUE(MainWindow::tryConsumeTransportHotkey(&stopPress));
    EXPECT_FALSE(window.isHotkeyLongPressArmed());
    QKeyEvent stopRelease(QEvent::KeyRelease, Qt::Key_Space, Qt::ControlModifier, " ");
    MainWindow::onTransportHotkeyKeyReleased(&stopRelease);

    holdUntil(Qt::Key_Space, Qt::NoModifier, 1);
    ASSERT_TRUE(window.isRecording());

    // Record during a take: swallowed, nothing armed.
    QKeyEvent recordPress(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    EXPECT_TRUE(MainWindow::tryConsumeTransportHotkey(&recordPress));
    EXPECT_FALSE(window.isHotkeyLongPressArmed());
    QKeyEvent recordRelease(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
    MainWindow::onTransportHotkeyKeyReleased(&recordRelease);

    // A short stop press leaves the take running.
    press(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(window.hotkeyLongPressTarget(), MainWindow::HotkeyLongPressStop);
    release(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(window.isRecording());

    // Ctrl let go before Space still ends the hold, and the next press works.
    press(Qt::Key_Space, Qt::ControlModifier);
    release(Qt::Key_Space, Qt::NoModifier);
    EXPECT_FALSE(window.isHotkeyLongPressArmed());
    holdUntil(Qt::Key_Space, Qt::ControlModifier, 2);
    EXPECT_FALSE(window.isRecording());
    EXPECT_EQ(engine().callsOf({"startRecording", "stopRecording"}),
              (std::vector<std::string>{"startRecording", "stopRecording"}));
}

TEST_F(MainWindowHotkeysTest, SharedRecordAndStopKeyToggles)
{
    seed({{"hotkey.0", std::string("F8")}, {"hotkey.1", std::string("F8")}});
    MainWindow& window = makeShownWindow();
    int boundToF8 = 0;
    for (QShortcut* shortcut : window.findChildren<QShortcut*>())
        boundToF8 += shortcut->key() == QKeySequence(Qt::Key_F8) ? 1 : 0;
    EXPECT_EQ(boundToF8, 1);

    holdUntil(Qt::Key_F8, Qt::NoModifier, 1);
    EXPECT_TRUE(window.isRecording());
    press(Qt::Key_F8);
    EXPECT_EQ(window.hotkeyLongPressTarget(), MainWindow::HotkeyLongPressStop);
    release(Qt::Key_F8);
    holdUntil(Qt::Key_F8, Qt::NoModifier, 2);
    EXPECT_FALSE(window.isRecording());
    EXPECT_EQ(takeCalls(), 2u);
}

TEST_F(MainWindowHotkeysTest, KeypadKeysMatchTheirPlainBinding)
{
    struct Case {
        QKeySequence binding;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool matches;
    };
    const Case cases[] = {
        {QKeySequence(Qt::Key_Enter), Qt::Key_Enter, Qt::KeypadModifier, true},
        {QKeySequence(Qt::Key_1), Qt::Key_1, Qt::KeypadModifier, true},
        {QKeySequence(Qt::CTRL | Qt::Key_1), Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier, true},
        {QKeySequence(Qt::SHIFT | Qt::Key_S), Qt::Key_S, Qt::ShiftModifier, true},
        {QKeySequence(Qt::SHIFT | Qt::Key_S), Qt::Key_S, Qt::NoModifier, false},
        {QKeySequence(Qt::Key_Space), Qt::Key_Space, Qt::ControlModifier, false},
        {QKeySequence(), Qt::Key_Space, Qt::NoModifier, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.binding.toString().toStdString() + " vs key " + std::to_string(c.key));
        QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers);
        EXPECT_EQ(matchesHotkeyEvent(c.binding, &event), c.matches);
    }

    seed({{"hotkey.0", std::string("Enter")}});
    MainWindow& window = makeShownWindow();
    QKeyEvent keypadEnter(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(MainWindow::tryConsumeTransportHotkey(&keypadEnter));
    EXPECT_EQ(window.hotkeyLongPressTarget(), MainWindow::HotkeyLongPressRecord);
}

TEST_F(MainWindowHotkeysTest, TypingInAFieldNeverArmsTalksOrOpens)
{
    MainWindow& window = makeShownWindow();
    ModalAnswerer modals;
    QLineEdit* scene = window.sceneField();
    scene->setFocus();
    ASSERT_TRUE(hasTextInputFocus());
    EXPECT_FALSE(shortcutFor(QKeySequence(Qt::Key_Space))->isEnabled());

    QTest::keyClick(scene, Qt::Key_Space);
    QTest::keyPress(scene, Qt::Key_Space);
    EXPECT_FALSE(window.isHotkeyLongPressArmed());
    QTest::keyRelease(scene, Qt::Key_Space);
    QTest::keyClicks(scene, "scp");
    EXPECT_EQ(scene->text(), "  scp");
    EXPECT_TRUE(engine().callsOf({"enableSlate", "setSlate", "setCom"}).empty());
    EXPECT_FALSE(window.isSlateActive());
    EXPECT_FALSE(window.isComActive());
    EXPECT_EQ(modals.modalCount(), 0);
    EXPECT_EQ(takeCalls(), 0u);

    window.setFocus();
    EXPECT_TRUE(shortcutFor(QKeySequence(Qt::Key_Space))->isEnabled());
    press(Qt::Key_P);
    release(Qt::Key_P);
    EXPECT_EQ(modals.modalCount(), 1);
}

// Return, Enter and Escape end the typing in every field of the window and
// give the keys back at once: a held record key right after them starts a
// take, which carries the field's text without the blanks typed around it.
TEST_F(MainWindowHotkeysTest, EndingAnEditGivesTheKeysBackAndTrimsTheText)
{
    MainWindow& window = makeShownWindow();
    ASSERT_FALSE(window.trackRows().empty());
    struct Field {
        const char* name;
        QLineEdit* edit;
        std::string (*taken)(const AudioEngineBase::RecordingMetadata&);
    };
    const Field fields[] = {
        {"scene", window.sceneField(), [](const AudioEngineBase::RecordingMetadata& m) { return m.scene; }},
        {"take", window.takeField(), [](const AudioEngineBase::RecordingMetadata& m) { return m.take; }},
        {"notes", window.notesField(), [](const AudioEngineBase::RecordingMetadata& m) { return m.notes; }},
        {"track name", window.trackRows()[0].nameEdit,
         [](const AudioEngineBase::RecordingMetadata& m) { return m.trackNames.at(0); }},
    };
    const Qt::Key keys[] = {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape};
    size_t takes = 0;
    for (const Field& field : fields) {
        for (const Qt::Key key : keys) {
            SCOPED_TRACE(std::string(field.name) + " " + QKeySequence(key).toString().toStdString());
            if (window.isRecording()) {
                holdUntil(Qt::Key_Space, Qt::ControlModifier, ++takes);
                ASSERT_FALSE(window.isRecording());
            }
            field.edit->setFocus();
            ASSERT_TRUE(hasTextInputFocus());
            field.edit->selectAll();
            QTest::keyClicks(field.edit, "  30 ");
            QTest::keyClick(field.edit, key);
            EXPECT_FALSE(hasTextInputFocus());
            EXPECT_FALSE(field.edit->hasFocus());
            EXPECT_EQ(field.edit->text(), "30");
            EXPECT_TRUE(shortcutFor(QKeySequence(Qt::Key_Space))->isEnabled());

            // The held key goes where the application sends it: the focus.
            QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window;
            QTest::keyPress(target, Qt::Key_Space);
            EXPECT_TRUE(QTest::qWaitFor([&] { return takeCalls() > takes; }, 2000));
            QTest::keyRelease(target, Qt::Key_Space);
            ++takes;
            ASSERT_TRUE(window.isRecording());
            EXPECT_EQ(field.taken(engine().getRecordingMetadata()), "30");
            EXPECT_EQ(field.edit->text(), "30") << "no space reached the field";
        }
    }
    holdUntil(Qt::Key_Space, Qt::ControlModifier, ++takes);
    EXPECT_EQ(home_.savedKey("metadata.scene"), "30");
    EXPECT_EQ(home_.savedKey("metadata.notes"), "30");
    EXPECT_EQ(home_.savedKey("track.name.0"), "30");
}

// A press on a part of the window that takes no focus ends the typing; a
// control that takes the focus on a click takes it as always.
TEST_F(MainWindowHotkeysTest, APressOnThePlainWindowEndsTheTyping)
{
    MainWindow& window = makeShownWindow();
    QLineEdit* scene = window.sceneField();
    scene->setFocus();
    QTest::keyClicks(scene, " 12 ");
    ASSERT_TRUE(hasTextInputFocus());
    QWidget* metadataGroup = scene->parentWidget();
    while (metadataGroup != nullptr && qobject_cast<QGroupBox*>(metadataGroup) == nullptr)
        metadataGroup = metadataGroup->parentWidget();
    ASSERT_NE(metadataGroup, nullptr);
    // A bare spot of the group: no child under it.
    QPoint bare(-1, -1);
    for (int y = metadataGroup->height() - 2; y > 0 && bare.x() < 0; y -= 2)
        for (int x = metadataGroup->width() - 2; x > 0 && bare.x() < 0; x -= 2)
            if (metadataGroup->childAt(x, y) == nullptr)
                bare = QPoint(x, y);
    ASSERT_GE(bare.x(), 0);
    QTest::mouseClick(metadataGroup, Qt::LeftButton, Qt::NoModifier, bare);
    EXPECT_FALSE(hasTextInputFocus());
    EXPECT_EQ(home_.savedKey("metadata.scene"), "12");

    scene->setFocus();
    QTest::mouseClick(window.notesField(), Qt::LeftButton);
    EXPECT_TRUE(window.notesField()->hasFocus()) << "a field clicked into takes the focus";
    QTest::mouseClick(window.centralWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_FALSE(hasTextInputFocus());
}

TEST_F(MainWindowHotkeysTest, FalseTakeNeedsAFinishedTakeAndNoRunningOne)
{
    MainWindow& window = makeShownWindow();
    int menusShown = 0;
    QTimer closeMenus;
    QObject::connect(&closeMenus, &QTimer::timeout, [&menusShown] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            ++menusShown;
            menu->close();
        }
    });
    closeMenus.start(10);
    const auto falseTakeKey = [this] {
        press(Qt::Key_F, Qt::ControlModifier);
        release(Qt::Key_F, Qt::ControlModifier);
    };

    falseTakeKey();
    EXPECT_EQ(menusShown, 0);
    window.onRecordClicked();
    ASSERT_TRUE(window.isRecording());
    falseTakeKey();
    EXPECT_EQ(menusShown, 0);
    window.onStopClicked();
    ASSERT_FALSE(window.lastRecordingText().isEmpty());
    falseTakeKey();
    EXPECT_EQ(menusShown, 1);
}

TEST_F(MainWindowHotkeysTest, TestToneSceneLetterAndArmKeys)
{
    seed({{"track.count", 4}});
    MainWindow& window = makeShownWindow();

    press(Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(window.testToneAction()->isChecked());
    press(Qt::Key_T, Qt::ControlModifier);
    EXPECT_FALSE(window.testToneAction()->isChecked());
    EXPECT_EQ(engine().callsOf({"setTestTone"}),
              (std::vector<std::string>{"setTestToneEnabled(true)", "setTestToneEnabled(false)"}));

    QPushButton* sceneButton = nullptr;
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (button->text() == "Scene:")
            sceneButton = button;
    ASSERT_NE(sceneButton, nullptr);
    QSignalSpy sceneClicks(sceneButton, &QPushButton::clicked);
    press(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(sceneClicks.count(), 1);
    EXPECT_FALSE(window.isSlateActive());

    ASSERT_EQ(window.shownTrackCount(), 4);
    const auto armed = [&window] {
        std::vector<bool> result;
        for (const MainWindow::TrackRow& row : window.trackRows())
            result.push_back(row.armButton->isChecked());
        return result;
    };
    const std::vector<bool> before = armed();
    press(Qt::Key_2, Qt::ControlModifier);
    std::vector<bool> expected = before;
    expected[1] = !expected[1];
    EXPECT_EQ(armed(), expected);
    // Track 5 is not shown; nor is track 4 once its row is hidden.
    press(Qt::Key_5, Qt::ControlModifier);
    window.trackRows()[3].rowWidget->hide();
    press(Qt::Key_4, Qt::ControlModifier);
    EXPECT_EQ(armed(), expected);
    press(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(armed(), before);
}

TEST_F(MainWindowHotkeysTest, BindingChangedInTheDialogReKeysTheWindowAtOnce)
{
    MainWindow& window = makeShownWindow();
    bool reKeyedWhileOpen = false;
    ModalAnswerer answerer([this, &reKeyedWhileOpen](QWidget* modal) {
        auto* dialog = qobject_cast<HotkeysDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        dialog->editFor(HotkeysDialog::StartRecording)->setKeySequence(QKeySequence(Qt::Key_F6));
        reKeyedWhileOpen = shortcutFor(QKeySequence(Qt::Key_F6)) != nullptr;
        dialog->accept();
    });
    action("&Tools", "Hotkeys...")->trigger();
    EXPECT_EQ(answerer.modalCount(), 1);
    EXPECT_TRUE(reKeyedWhileOpen);
    EXPECT_EQ(ConfigManager::getInstance()->getString("hotkey.0", ""), "F6");

    press(Qt::Key_Space);
    EXPECT_FALSE(window.isHotkeyLongPressArmed());
    release(Qt::Key_Space);
    press(Qt::Key_F6);
    EXPECT_EQ(window.hotkeyLongPressTarget(), MainWindow::HotkeyLongPressRecord);
    release(Qt::Key_F6);
}

} // namespace
