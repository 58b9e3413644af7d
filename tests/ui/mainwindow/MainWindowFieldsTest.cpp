// The take fields of the window: the scene letters count on, the take is
// kept two-digit, the project and roll dialogs, and every edit reaches the
// configuration file at once (a crash must not lose what was typed).

#include "MainWindowTestSupport.h"

#include "controllers/MidiControllerManager.h"
#include "ui/common/FaderSlider.h"
#include "ui/tools/ModalAnswerer.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QLabel>
#include <QWheelEvent>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

class MainWindowFieldsTest : public MainWindowTest {
protected:
    MainWindow& makeActiveWindow()
    {
        MainWindow& window = makeWindow();
        window.show();
        QApplication::setActiveWindow(&window);
        return window;
    }

    // Finishes an edit the way the recordist does: focus, text, Return.
    static void typeAndReturn(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        field->setText(text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    // Answers the next project or roll dialog: types `text` and presses OK,
    // or Cancel when `accept` is false. Counts the dialogs it answered.
    void answerFieldDialog(const QString& title, const QString& text, bool accept, int triesLeft = 200)
    {
        QTimer::singleShot(10, [=, this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->windowTitle() != title) {
                if (triesLeft > 0)
                    answerFieldDialog(title, text, accept, triesLeft - 1);
                return;
            }
            ++dialogsAnswered_;
            auto* edit = dialog->findChild<QLineEdit*>("fieldTextEdit");
            ASSERT_NE(edit, nullptr);
            shownText_ = edit->text();
            shownSelected_ = edit->selectedText();
            keepPicture(*dialog, title);
            edit->setText(text);
            for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
                if (button->text() == (accept ? "OK" : "Cancel"))
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        });
    }

    int dialogsAnswered_ = 0;
    QString shownText_;
    QString shownSelected_;
};

TEST(SceneLetterIncrement, CountsTheTrailingCapitalsOn)
{
    struct Case {
        const char* scene;
        const char* next;
    };
    const Case cases[] = {
        {"", "A"},         {"12", "12A"},     {"12A", "12B"},    {"12Z", "12AA"},   {"12AZ", "12BA"},
        {"ZZ", "AAA"},     {"INT", "INU"},    {"12a", "12aA"},   {"12-", "12-A"},   {"  5B  ", "5C"},
        {"Sc 4Y", "Sc 4Z"}, {"4ZZZ", "4AAAA"},
        // Runs longer than any counter a number could hold still count exactly.
        {"ZZZZZZZZZZZZZZZZ", "AAAAAAAAAAAAAAAAA"},
        {"9ABZZZZZZZZZZZZZZ", "9ACAAAAAAAAAAAAAA"},
        {"QQQQQQQQQQQQQQQQQQQQQQQQ", "QQQQQQQQQQQQQQQQQQQQQQQR"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MainWindow::sceneAfterLetterIncrement(c.scene).toStdString(), c.next) << '"' << c.scene << '"';
}

TEST_F(MainWindowFieldsTest, SceneButtonStepsTheLetterAndStartsTheTakesAgain)
{
    seed({{"metadata.scene", std::string("12Z")}, {"metadata.take", std::string("07")}});
    MainWindow& window = makeActiveWindow();
    ASSERT_EQ(window.sceneField()->text(), "12Z");
    EXPECT_EQ(window.sceneLetterButton()->focusPolicy(), Qt::NoFocus);

    QTest::mouseClick(window.sceneLetterButton(), Qt::LeftButton);
    EXPECT_EQ(window.sceneField()->text(), "12AA");
    EXPECT_EQ(window.takeField()->text(), "01");
    EXPECT_EQ(home_.savedKey("metadata.scene"), "12AA");
    EXPECT_EQ(home_.savedKey("metadata.take"), "01");

    window.onSceneLetterIncrement();  // the hotkey's road
    EXPECT_EQ(window.sceneField()->text(), "12AB");
    EXPECT_EQ(home_.savedKey("metadata.scene"), "12AB");

    // While a text field has the focus the click and the key are typing, not a step.
    window.takeField()->setText("05");
    window.notesField()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == window.notesField(); }, 5000))
        << "the notes field never got the focus";
    QTest::mouseClick(window.sceneLetterButton(), Qt::LeftButton);
    window.onSceneLetterIncrement();
    EXPECT_EQ(window.sceneField()->text(), "12AB");
    EXPECT_EQ(window.takeField()->text(), "05");
}

TEST_F(MainWindowFieldsTest, TakeIsKeptTwoDigitAndSceneReturnResetsIt)
{
    MainWindow& window = makeActiveWindow();
    struct Case {
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {{"7", "07"},   {"07", "07"}, {"99", "99"},   {"1", "01"}, {"100", "100"},
                          {"0", "0"},    {"-3", "-3"}, {"abc", "abc"}, {"", ""},    {"3b", "3b"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        typeAndReturn(window.takeField(), c.typed);
        EXPECT_EQ(window.takeField()->text().toStdString(), c.shown);
        EXPECT_EQ(home_.savedKey("metadata.take"), c.shown);
    }

    typeAndReturn(window.sceneField(), "  4C ");
    EXPECT_EQ(home_.savedKey("metadata.scene"), "4C") << "blanks around the scene would reach the take's name";
    EXPECT_EQ(window.sceneField()->text(), "4C");
    EXPECT_EQ(window.takeField()->text(), "01");
    typeAndReturn(window.takeField(), "6");
    EXPECT_EQ(home_.savedKey("metadata.take"), "06");
    // Return again on an unchanged scene starts the count again.
    window.sceneField()->setFocus();
    QTest::keyClick(window.sceneField(), Qt::Key_Return);
    EXPECT_EQ(window.takeField()->text(), "01");
    EXPECT_EQ(home_.savedKey("metadata.take"), "01");
}

TEST_F(MainWindowFieldsTest, NotesAndPersistBoxAreStoredAtOnce)
{
    MainWindow& window = makeActiveWindow();
    typeAndReturn(window.notesField(), "plane overhead, wild track after");
    EXPECT_EQ(home_.savedKey("metadata.notes"), "plane overhead, wild track after");

    QTest::mouseClick(window.persistNotesBox(), Qt::LeftButton);
    EXPECT_TRUE(window.persistNotesBox()->isChecked());
    EXPECT_EQ(home_.savedKey("metadata.persistnotes"), "true");
    QTest::mouseClick(window.persistNotesBox(), Qt::LeftButton);
    EXPECT_EQ(home_.savedKey("metadata.persistnotes"), "false");
    QTest::mouseClick(window.persistNotesBox(), Qt::LeftButton);

    // The next start shows what was typed.
    window_.reset();
    ConfigManager::getInstance()->resetForTests();
    MainWindow& again = makeActiveWindow();
    EXPECT_EQ(again.notesField()->text(), "plane overhead, wild track after");
    EXPECT_TRUE(again.persistNotesBox()->isChecked());
}

TEST_F(MainWindowFieldsTest, ProjectAndRollDialogsTrimAndStore)
{
    seed({{"metadata.project", std::string("Old")}, {"metadata.soundroll", std::string("004")}});
    MainWindow& window = makeActiveWindow();

    // A right click is no request for the dialog.
    QTest::mouseClick(window.projectField(), Qt::RightButton);
    EXPECT_EQ(dialogsAnswered_, 0);

    const struct {
        bool roll;          // the sound roll field, else the project field
        const char* typed;
        bool accept;
        const char* shown;  // the text the dialog opened with, when checked
        bool shownSelected; // that text selected, to be typed over
        const char* expected;
        const char* why;
    } steps[] = {
        {false, "  Night Shoot  ", true, "Old", true, "Night Shoot", "trimmed"},
        {false, "Thrown away", false, nullptr, false, "Night Shoot", "a cancel keeps the name"},
        {false, "   ", true, nullptr, false, "", "blank clears the name"},
        {true, " 005 ", true, "004", false, "005", "trimmed"},
        // An empty roll is no roll at all on the slate: the first roll's number.
        {true, "  ", true, nullptr, false, "001", "an empty roll"},
    };
    int answered = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.why);
        QLineEdit* field = step.roll ? window.soundRollField() : window.projectField();
        answerFieldDialog(step.roll ? "Set Sound Roll" : "Set Project Name", step.typed, step.accept);
        QTest::mouseClick(field, Qt::LeftButton);
        EXPECT_EQ(dialogsAnswered_, ++answered);
        if (step.shown != nullptr) {
            EXPECT_EQ(shownText_, step.shown);
        }
        if (step.shownSelected) {
            EXPECT_EQ(shownSelected_, step.shown) << "the old text is selected to be typed over";
        }
        EXPECT_EQ(field->text(), step.expected);
        EXPECT_EQ(home_.savedKey(step.roll ? "metadata.soundroll" : "metadata.project"), step.expected);
    }
    EXPECT_EQ(dialogsAnswered_, 5);
    EXPECT_TRUE(window.projectField()->isReadOnly());
}

// The mixer strips' mouse gestures: Ctrl-click on a gain label is 0.0 dB, a
// right click on the track button picks and stores its colour, and a fader
// that a Cantarem drives cannot be moved with the mouse.
TEST_F(MainWindowFieldsTest, StripGesturesResetGainPickColourAndSpareCantaremFaders)
{
    // Track 2 is on a Cantarem fader; track 1 is not.
    seed({{"track.count", 4}, {"midi.faderAssignments", std::string("Cantarem 2:0:1")}});
    MainWindow& window = makeActiveWindow();
    ASSERT_GE(window.mixerStrips().size(), 4u);
    const MainWindow::MixerStrip& first = window.mixerStrips()[0];

    first.fader->setValue(-150);
    QTest::mouseClick(first.gainLabel, Qt::LeftButton);
    EXPECT_EQ(first.fader->value(), -150) << "a plain click is no reset";
    QTest::mouseClick(first.gainLabel, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(first.fader->value(), 0);
    EXPECT_EQ(first.gainLabel->text(), "0.0 dB");

    QString colourTitle;
    bool chooseColour = true;
    ModalAnswerer colours([&colourTitle, &chooseColour](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        colourTitle = dialog->windowTitle();
        if (!chooseColour) {
            dialog->reject();
            return;
        }
        dialog->setCurrentColor(QColor("#aa3355"));
        dialog->accept();
    });
    const MainWindow::MixerStrip& third = window.mixerStrips()[2];
    QTest::mouseClick(third.trackButton, Qt::RightButton);
    EXPECT_EQ(colours.modalCount(), 1);
    EXPECT_EQ(colourTitle, "Select Color for Track 3");
    EXPECT_EQ(window.mixerStrips()[2].color, QColor("#aa3355"));
    EXPECT_TRUE(third.trackButton->styleSheet().contains("#aa3355"));
    EXPECT_EQ(home_.savedKey("track.color.2"), "#aa3355");
    chooseColour = false;
    QTest::mouseClick(third.trackButton, Qt::RightButton);
    EXPECT_EQ(colours.modalCount(), 2);
    EXPECT_EQ(window.mixerStrips()[2].color, QColor("#aa3355"));
    EXPECT_EQ(home_.savedKey("track.color.2"), "#aa3355");

    ASSERT_NE(window.controllerManager(), nullptr);
    ASSERT_TRUE(window.controllerManager()->isTrackMappedToCantarem(1));
    const auto wheel = [](FaderSlider* fader) {
        const QPointF centre(fader->width() / 2.0, fader->height() / 2.0);
        QWheelEvent turn(centre, fader->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(fader, &turn);
    };
    for (size_t strip : {0u, 1u}) {
        SCOPED_TRACE(strip);
        FaderSlider* fader = window.mixerStrips()[strip].fader;
        fader->setValue(-200);
        wheel(fader);
        QTest::mousePress(fader, Qt::LeftButton, Qt::NoModifier, QPoint(fader->width() / 2, 2));
        QTest::mouseRelease(fader, Qt::LeftButton, Qt::NoModifier, QPoint(fader->width() / 2, 2));
        if (strip == 1)
            EXPECT_EQ(fader->value(), -200);
        else
            EXPECT_NE(fader->value(), -200);
    }
}

} // namespace
