// Slate and COM on an engine double: every way in (buttons, Ctrl-click, hold
// keys, controller calls) reaches the engine in the right order with the
// right look, and every way out ends the path - including the ones whose
// release never arrives (pointer gone, Shift let go first, a window taking
// the keyboard).

#include "MainWindowKeysTestSupport.h"

#include "ui/common/Theme.h"

#include <QPushButton>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

const Calls kSlateRecordedOn = {"setSlateMicMonitorOnly(false)", "enableSlateMic(true)"};
const Calls kSlateMonitorOn = {"setSlateMicMonitorOnly(true)", "enableSlateMic(true)"};
const Calls kSlateOff = {"enableSlateMic(false)", "setSlateMicMonitorOnly(false)"};
const Calls kComOn = {"enableSlateMicToCom(true)", "setComInput1Enabled(true)", "setComInput2Enabled(true)"};
const Calls kComOff = {"enableSlateMicToCom(false)", "setComInput1Enabled(false)", "setComInput2Enabled(false)"};

Calls joined(std::initializer_list<Calls> parts)
{
    Calls result;
    for (const Calls& part : parts)
        result.insert(result.end(), part.begin(), part.end());
    return result;
}

class MainWindowSlateTest : public MainWindowKeysTest {
protected:
    Calls talkCalls() const { return engine().callsOf({"enableSlate", "setSlate", "setCom"}); }
    void clearCalls() { engine().calls.clear(); }
    static bool showsColour(QPushButton* button, const char* colour)
    {
        return button->styleSheet().contains(QString("background-color: %1").arg(colour));
    }
    static bool showsIdle(QPushButton* button) { return button->styleSheet() == slateComIdleStyle(); }
};

TEST_F(MainWindowSlateTest, ButtonsReachTheEngineInOrderWithTheirLooks)
{
    MainWindow& window = makeShownWindow();
    QPushButton* slate = window.slateButton();
    QPushButton* com = window.comButton();

    QTest::mousePress(slate, Qt::LeftButton);
    EXPECT_EQ(talkCalls(), kSlateRecordedOn);
    EXPECT_TRUE(showsColour(slate, "#34C759"));
    QTest::mouseRelease(slate, Qt::LeftButton);
    EXPECT_EQ(talkCalls(), joined({kSlateRecordedOn, kSlateOff}));
    EXPECT_TRUE(showsIdle(slate));

    // Ctrl held at the press: to the monitor only, blue.
    clearCalls();
    QTest::mousePress(slate, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(talkCalls(), kSlateMonitorOn);
    EXPECT_TRUE(showsColour(slate, "#0A84FF"));
    QTest::mouseRelease(slate, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(talkCalls(), joined({kSlateMonitorOn, kSlateOff}));

    clearCalls();
    QTest::mousePress(com, Qt::LeftButton);
    EXPECT_EQ(talkCalls(), kComOn);
    EXPECT_TRUE(showsColour(com, "#ff8c00"));
    EXPECT_TRUE(com->styleSheet().contains("border: 2px solid #ffaa00"));
    QTest::mouseRelease(com, Qt::LeftButton);
    EXPECT_EQ(talkCalls(), joined({kComOn, kComOff}));
    EXPECT_TRUE(showsIdle(com));
    // A second release of a path that is off tells the engine nothing.
    window.resetComButton();
    window.resetSlateButton();
    EXPECT_EQ(talkCalls(), joined({kComOn, kComOff}));
}

TEST_F(MainWindowSlateTest, PointerLeavingAButtonEndsItsPath)
{
    MainWindow& window = makeShownWindow();
    for (QPushButton* button : {window.slateButton(), window.comButton()}) {
        SCOPED_TRACE(button->text().toStdString());
        clearCalls();
        QTest::mousePress(button, Qt::LeftButton);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
        EXPECT_FALSE(window.isSlateActive());
        EXPECT_FALSE(window.isComActive());
        EXPECT_TRUE(showsIdle(button));
        EXPECT_EQ(talkCalls(), button == window.slateButton() ? joined({kSlateRecordedOn, kSlateOff})
                                                              : joined({kComOn, kComOff}));
        QTest::mouseRelease(button, Qt::LeftButton);
        EXPECT_EQ(talkCalls().size(), button == window.slateButton() ? 4u : 6u);
    }
}

TEST_F(MainWindowSlateTest, HoldKeysTalkOnceAndEndOnRelease)
{
    MainWindow& window = makeShownWindow();
    struct Case {
        const char* name;
        Qt::KeyboardModifiers pressModifiers;
        Qt::Key key;
        Qt::KeyboardModifiers releaseModifiers;
        Calls calls;
        const char* colour;
    };
    const Case cases[] = {
        {"S", Qt::NoModifier, Qt::Key_S, Qt::NoModifier, joined({kSlateRecordedOn, kSlateOff}), "#34C759"},
        {"Shift+S", Qt::ShiftModifier, Qt::Key_S, Qt::ShiftModifier, joined({kSlateMonitorOn, kSlateOff}), "#0A84FF"},
        // Shift let go before S: the release reads as a plain S and must
        // still end the monitor slate.
        {"Shift+S, Shift first", Qt::ShiftModifier, Qt::Key_S, Qt::NoModifier, joined({kSlateMonitorOn, kSlateOff}),
         "#0A84FF"},
        {"C", Qt::NoModifier, Qt::Key_C, Qt::NoModifier, joined({kComOn, kComOff}), "#ff8c00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearCalls();
        QPushButton* button = c.key == Qt::Key_C ? window.comButton() : window.slateButton();
        QTest::keyPress(&window, c.key, c.pressModifiers);
        EXPECT_TRUE(showsColour(button, c.colour));
        // Automatic repeats of the held key act no further.
        for (int repeat = 0; repeat < 3; ++repeat) {
            QKeyEvent again(QEvent::KeyPress, c.key, c.pressModifiers, QString(), true);
            QApplication::sendEvent(&window, &again);
            QKeyEvent up(QEvent::KeyRelease, c.key, c.pressModifiers, QString(), true);
            QApplication::sendEvent(&window, &up);
        }
        QTest::keyRelease(&window, c.key, c.releaseModifiers);
        EXPECT_EQ(talkCalls(), c.calls);
        EXPECT_TRUE(showsIdle(button));
        EXPECT_FALSE(window.isSlateActive() || window.isMonitorSlateActive() || window.isComActive());
    }
}

// A controller's C1 after Shift 2 is let go arrives as the plain slate's
// release: it ends the monitor slate too.
TEST_F(MainWindowSlateTest, AnySlateReleaseEndsWhicheverSlateIsOn)
{
    MainWindow& window = makeShownWindow();
    window.onSlateMonitorButtonPressed();
    window.resetSlateButton();
    EXPECT_EQ(talkCalls(), joined({kSlateMonitorOn, kSlateOff}));
    EXPECT_TRUE(showsIdle(window.slateButton()));

    clearCalls();
    window.onSlateButtonPressed();
    window.onSlateMonitorButtonReleased();
    EXPECT_EQ(talkCalls(), joined({kSlateRecordedOn, kSlateOff}));
    EXPECT_FALSE(window.isSlateActive());
}

// A box opened while a hold key is down takes its release: both paths end
// as the window loses the keyboard.
TEST_F(MainWindowSlateTest, LosingTheKeyboardEndsSlateAndCom)
{
    MainWindow& window = makeShownWindow();
    QTest::keyPress(&window, Qt::Key_S);
    QTest::keyPress(&window, Qt::Key_C);
    ASSERT_TRUE(window.isSlateActive());
    ASSERT_TRUE(window.isComActive());

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(window.isSlateActive());
    EXPECT_FALSE(window.isComActive());
    EXPECT_EQ(talkCalls(), joined({kSlateRecordedOn, kComOn, kSlateOff, kComOff}));
    EXPECT_TRUE(showsIdle(window.slateButton()));
    EXPECT_TRUE(showsIdle(window.comButton()));
}

} // namespace
