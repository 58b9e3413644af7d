// The shared message boxes: what each kind shows (icon, buttons, default,
// look) and that a question answers with the button pressed.

#include "ui/common/MessageBoxes.h"
#include "ui/common/Theme.h"
#include "support/WidgetLegibility.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace {

// What the open box looked like when it was answered.
struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QColor background; // a pixel of the box's own background
    QWidget* parent = nullptr;
};

// Runs `open`, answers the box it shows with `answer` from inside the box's
// own event loop, and returns what the box showed.
SeenBox answerBox(QMessageBox::StandardButton answer, const std::function<void()>& open)
{
    SeenBox seen;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || seen.seen)
            return;
        seen.seen = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->standardButton(box->defaultButton());
        seen.background = box->grab().toImage().pixelColor(2, 2);
        seen.parent = box->parentWidget();
        static int pictures = 0;
        keepPicture(*box, QString("message-box-%1").arg(++pictures));
        box->button(answer)->click();
    });
    poll.start();
    open();
    return seen;
}

} // namespace

TEST(MessageBoxesTest, StyledBoxShowsItsTextWithOkAsDefaultAndTheDarkLook)
{
    QWidget parent;
    const SeenBox seen = answerBox(QMessageBox::Ok, [&] {
        showStyledMessageBox(&parent, "Recording Active", "Stop recording first.",
                             QMessageBox::Ok | QMessageBox::Cancel);
    });
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, "Recording Active");
    EXPECT_EQ(seen.text, "Stop recording first.");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Ok);
    EXPECT_EQ(seen.background, QColor(Theme::kBgDialog));
    EXPECT_EQ(seen.parent, &parent);
}

TEST(MessageBoxesTest, StyledQuestionReturnsThePressedButtonAndKeepsItsDefault)
{
    const struct {
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
        QMessageBox::StandardButton pressed;
        QString informativeText;
    } cases[] = {
        {QMessageBox::Yes | QMessageBox::No, QMessageBox::No, QMessageBox::Yes, QString()},
        {QMessageBox::Yes | QMessageBox::No, QMessageBox::No, QMessageBox::No, "Moved to FALSETAKES."},
        {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Ok, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pressed);
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        const SeenBox seen = answerBox(c.pressed, [&] {
            answer = askStyled(nullptr, "Confirm", "Go on?", c.buttons, c.defaultButton, c.informativeText);
        });
        ASSERT_TRUE(seen.seen);
        EXPECT_EQ(answer, c.pressed);
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        EXPECT_EQ(seen.buttons, c.buttons);
        EXPECT_EQ(seen.defaultButton, c.defaultButton);
        EXPECT_EQ(seen.informativeText, c.informativeText);
        EXPECT_EQ(seen.background, QColor(Theme::kBgDialog));
    }
}

TEST(MessageBoxesTest, PlainBoxHasOneOkAndTakesItsParentsLook)
{
    QWidget parent;
    const SeenBox seen = answerBox(QMessageBox::Ok, [&] { showPlainMessageBox(&parent, "Error", "Port in use."); });
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, "Error");
    EXPECT_EQ(seen.text, "Port in use.");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
    EXPECT_NE(seen.background, QColor(Theme::kBgDialog));
    EXPECT_EQ(seen.parent, &parent);
}
