// The channel strip's editable value labels, driven by real clicks on the
// labels, typing and Return: the parsers and the clamping to each slider,
// Ctrl+click resets, and the feedback banner's timer.

#include "support/TempHome.h"
#include "ui/common/EditableValueLabel.h"
#include "ui/mixer/ChannelStripDialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QTest>

namespace {

class ValueLabelsTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        dialog_ = std::make_unique<ChannelStripDialog>(0, "Boom", nullptr, clipboard_);
        dialog_->show();
        QApplication::setActiveWindow(dialog_.get());
    }
    QLabel* label(const QString& name) { return dialog_->findChild<QLabel*>(name); }
    QSlider* slider(const QString& name) { return dialog_->findChild<QSlider*>(name); }
    QLineEdit* openEditor(const QString& labelName)
    {
        QLabel* target = label(labelName);
        EXPECT_NE(target, nullptr) << labelName.toStdString();
        QTest::mouseClick(target, Qt::LeftButton);
        return dialog_->findChild<QLineEdit*>("valueEditor");
    }
    void type(QLineEdit* editor, const QString& text)
    {
        editor->selectAll();
        // QTest's key table is ASCII; other characters arrive as their text.
        for (const QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(editor, c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, editor, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    StripClipboard clipboard_;
    std::unique_ptr<ChannelStripDialog> dialog_;
};

struct TypedCase {
    const char* label;
    const char* slider;
    const char* typed;
    int expected;
};

TEST_F(ValueLabelsTest, TypedTextBecomesTheClampedSliderValue)
{
    const TypedCase cases[] = {
        {"eq.mid.freqLabel", "eq.mid.freq", "2.5 kHz", 2500},
        {"eq.mid.freqLabel", "eq.mid.freq", "2.5 khz", 2500},
        {"eq.mid.freqLabel", "eq.mid.freq", "2.5kHz", 2500},
        {"eq.mid.freqLabel", "eq.mid.freq", "2.5 KHz", 2500},
        {"eq.mid.freqLabel", "eq.mid.freq", "2500", 2500},
        {"eq.mid.freqLabel", "eq.mid.freq", "loud", 200},
        {"eq.low.freqLabel", "eq.low.freq", "hum", 20},
        {"eq.high.freqLabel", "eq.high.freq", "?", 1000},
        {"hpfLabel", "hpfSlider", "x", 20},
        {"hpfLabel", "hpfSlider", "120 Hz", 120},
        {"trimLabel", "trimSlider", "-inf", -240},
        {"trimLabel", "trimSlider", "-\u221e", -240},
        {"trimLabel", "trimSlider", "+3.25", 32},
        {"trimLabel", "trimSlider", "2.3 dB", 23},
        {"limiterLabel", "limiterSlider", "-inf", -200},
        {"eq.low.gainLabel", "eq.low.gain", "12 dB", 120},
        {"eq.low.gainLabel", "eq.low.gain", "40", 120},
        {"eq.mid.qLabel", "eq.mid.q", "0.05", 1},
        {"eq.mid.qLabel", "eq.mid.q", "wide", 10},
        {"eq.high.qLabel", "eq.high.q", "0.7", 7},
        {"aux1Label", "aux1Send", "150%", 100},
        {"aux2Label", "aux2Send", "42 %", 42},
        {"aux3Label", "aux3Send", "lots", 0},
    };
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " <- " + c.typed);
        QLineEdit* editor = openEditor(c.label);
        ASSERT_NE(editor, nullptr);
        type(editor, QString::fromUtf8(c.typed));
        EXPECT_EQ(slider(c.slider)->value(), c.expected);
        EXPECT_EQ(dialog_->findChild<QLineEdit*>("valueEditor"), nullptr) << "the editor is gone";
    }
}

TEST_F(ValueLabelsTest, EditorOpensWithTheValueWithoutItsUnit)
{
    QLineEdit* editor = openEditor("eq.mid.freqLabel");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "1000");
    EXPECT_TRUE(editor->hasSelectedText());
    QTest::keyClick(editor, Qt::Key_Return);  // unchanged
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(slider("eq.mid.freq")->value(), 1000);

    const std::pair<const char*, const char*> opens[] = {
        {"hpfLabel", "80"}, {"limiterLabel", "-6.0"}, {"eq.low.qLabel", "1.0"}, {"aux1Label", "0"}};
    for (const auto& [name, text] : opens) {
        editor = openEditor(name);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), text) << name;
        editor->clear();  // an empty editor commits nothing
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(slider("limiterSlider")->value(), -60) << "the configuration's -6.0 dB, unchanged";
}

TEST_F(ValueLabelsTest, ArrowsInAnOpenEditorMoveTheCursorNotTheTrack)
{
    QLineEdit* editor = openEditor("trimLabel");
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Right);
    EXPECT_EQ(dialog_->trackIndex(), 0);
    QTest::keyClick(editor, Qt::Key_Left);
    EXPECT_EQ(dialog_->trackIndex(), 0);
    EXPECT_EQ(editor->cursorPosition(), editor->text().size() - 1);
}

TEST_F(ValueLabelsTest, CtrlClickResetsToTheLabelsDefault)
{
    slider("limiterSlider")->setValue(-120);
    slider("eq.high.q")->setValue(55);
    QTest::mouseClick(label("limiterLabel"), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(slider("limiterSlider")->value(), -30);
    EXPECT_EQ(label("limiterLabel")->text(), "-3.0 dB");
    QLabel* banner = dialog_->findChild<QLabel*>("feedbackLabel");
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->text(), "Reset to default");
    QTest::mouseClick(label("eq.high.qLabel"), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(slider("eq.high.q")->value(), 10);
    EXPECT_EQ(label("eq.high.qLabel")->text(), "1.0");
    EXPECT_EQ(dialog_->findChild<QLineEdit*>("valueEditor"), nullptr) << "a Ctrl+click opens no editor";

    // The dialog's own entry points do what the clicks do.
    auto* limiter = dialog_->findChild<EditableValueLabel*>("limiterLabel");
    ASSERT_NE(limiter, nullptr);
    slider("limiterSlider")->setValue(-120);
    dialog_->resetLabelToDefault(limiter);
    EXPECT_EQ(slider("limiterSlider")->value(), -30);
    dialog_->showLabelEditor(limiter);
    QLineEdit* editor = dialog_->findChild<QLineEdit*>("valueEditor");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "-3.0");
    type(editor, "-9");
    EXPECT_EQ(slider("limiterSlider")->value(), -90);
}

TEST_F(ValueLabelsTest, FormattersAtTheirEdges)
{
    EXPECT_EQ(ChannelStripDialog::formatDb(-60.0), "-∞ dB");
    EXPECT_EQ(ChannelStripDialog::formatDb(-59.9), "-59.9 dB");
    EXPECT_EQ(ChannelStripDialog::formatDb(12.5), "12.5 dB");
    EXPECT_EQ(ChannelStripDialog::formatDb(0.0), "0.0 dB");
    EXPECT_EQ(ChannelStripDialog::formatFreq(999), "999 Hz");
    EXPECT_EQ(ChannelStripDialog::formatFreq(1000), "1.0 kHz");
    EXPECT_EQ(ChannelStripDialog::formatFreq(12500), "12.5 kHz");
}

// Run under ASan: a banner's timer must not reach a dialog closed before it
// fires, and the first of two banners' timers hides the second text.
TEST_F(ValueLabelsTest, BannerTimersNeverTouchAClosedDialog)
{
    auto* closing = new ChannelStripDialog(1, "Lav", nullptr, clipboard_);
    closing->setAttribute(Qt::WA_DeleteOnClose);
    closing->show();
    QPointer<ChannelStripDialog> watch(closing);
    closing->onCopySettings();
    closing->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.isNull(); }));
    ASSERT_TRUE(watch.isNull());

    QLabel* banner = dialog_->findChild<QLabel*>("feedbackLabel");
    dialog_->showFeedback("first", "#4a9d5f");
    QTest::qWait(400);
    dialog_->showFeedback("second", "#5a8fd4");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !banner->isVisible(); }, 900)) << "hidden by the first timer";
    EXPECT_EQ(banner->text(), "second");
}

}  // namespace
